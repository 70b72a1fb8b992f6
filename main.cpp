// The desktop saver's entry: reads how it was asked to run and hands Form1 to the backend this
// executable is built with.
#include <memory>

#include "platform/desktop.h"
#include "shell/form1.h"

int main(int argc, char** argv) {
  std::unique_ptr<ps::Form1> form;
  return ps::run_desktop(ps::read_mode(argc, argv), [&](ps::Platform& platform) -> ps::Events& {
    form = std::make_unique<ps::Form1>(platform);
    return *form;
  });
}
