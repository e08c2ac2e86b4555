// The processes a test's process has under it, for checks that something was never started: a
// process started by the code under test stays this process's child (running, or ended and not yet
// waited for) until the test looks, so its absence is known at once, without waiting for it.
#pragma once
#include <string>
#include <vector>

// From now on, the processes that this process's children leave behind when they end become this
// process's own children, so that what a client process started can be seen after it has ended.
void AdoptOrphans();

// Whether a child of this process carries a program name (the kernel's, cut to 15 bytes) that
// starts with `prefix`.
bool HasChildNamed(const std::string& prefix);
