// The desktop saver's entry: the backend built into this executable brings up its platform
// and Form1 and runs the show; the return value is the process's exit status.
#pragma once

namespace ps {
int run_desktop(int argc, char** argv);
}  // namespace ps
