#pragma once
// Test code that must not touch the test process (another user, a private /etc/group,
// a private mount) runs in a forked child. What the child reports to the diagnostic
// log lands in the same file, so a LogCapture made before the fork sees it.

#include <functional>
#include <string>

// The exit code of a child that could not set itself up: the test is skipped.
constexpr int CHILD_SKIPPED = 77;

// Runs `body` in a forked child and gives its return value as the exit code; -1 when the
// child did not exit normally.
int run_in_child(const std::function<int()>& body);

// In a child: nobody:nogroup without supplementary groups. False when refused.
bool become_nobody();

// In a child: a private mount namespace, where `group_file` is what the name service
// reads as /etc/group. False when refused.
bool private_mounts(const std::string& group_file);
