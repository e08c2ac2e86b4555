// What changed between two game trees: the files a patch must carry, the files it cannot remove,
// and the entries it cannot carry at all.
#pragma once
#include <string>
#include <vector>

namespace publish {

struct TreeProblem {
  std::string path;  // relative, '/' separated
  std::string reason;
};

struct TreeDiff {
  std::vector<std::string> changed;  // new or different in the new tree, sorted
  std::vector<std::string> deleted;  // in the old tree only, sorted
  // links, devices, names that differ only in case, and names that are a file in one tree and a
  // folder in the other
  std::vector<TreeProblem> refused;
};

// Compares the trees file by file (size, then bytes). False with `why` when a tree cannot be read.
bool DiffTrees(const std::string& oldRoot, const std::string& newRoot, TreeDiff& diff, std::string& why);

// ASCII lower case: how the player's system compares names.
std::string FoldCase(std::string text);

}  // namespace publish
