// The saver's entry point: everything happens in the backend this executable is built with.
#include "platform/desktop.h"

int main(int argc, char** argv) { return ps::run_desktop(argc, argv); }
