// The programs that the client starts or fetches (the game, the launcher, a newer patch client),
// played by one small Windows program for runs of the Windows client under Wine. Which one it
// plays is named by a tag that tools/make_demo_world.py appends to its copy of the file:
// "TARVO-STAND-IN:game", "...:launcher old", "...:launcher new" or "...:client new". Each does what
// the demo world's shell scripts do on Linux, so the same checks hold for both.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

std::string Role(const char* self) {
  std::ifstream in(self, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::string marker = "TARVO-STAND-IN:";
  size_t at = bytes.rfind(marker);  // the tag comes after the marker's own copy in the program
  return at == std::string::npos ? std::string() : bytes.substr(at + marker.size());
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string role = Role(argv[0]);
  const std::string folder = FolderOf(argv[0]);
  if (role == "game") {
    std::string text = "Zobi.exe started with " + std::to_string(argc - 1) + " arguments:\n";
    for (int i = 1; i < argc; ++i) text += "  [" + std::to_string(i) + "] " + argv[i] + "\n";
    std::ofstream(folder + "zobi_args.txt", std::ios::binary) << text;
    std::fputs(text.c_str(), stdout);
  } else if (role.rfind("launcher ", 0) == 0) {
    std::string line = role.substr(9) + " ";
    for (int i = 1; i < argc; ++i) line += (i > 1 ? " " : "") + std::string(argv[i]);
    std::ofstream(folder + "launcher_runs.txt", std::ios::binary | std::ios::app) << line << "\n";
    std::printf("Tarvo launcher (%s) started again\n", role.substr(9).c_str());
  } else if (role == "client new") {
    std::puts("new patch client");
  } else {
    std::fprintf(stderr, "stand-in without a role\n");
    return 1;
  }
  return 0;
}
