// What a desktop executable's entry asks of the backend built into it: how this desktop says
// the saver should run, and running it, with the show the entry makes on the backend's platform.
// The backend never knows what the show is; the return value is the process's exit status.
#pragma once

#include <functional>

#include "platform/common/mode.h"
#include "platform/platform.h"

namespace ps {

using MakeShow = std::function<Events&(Platform&)>;

Mode read_mode(int argc, char** argv);
int run_desktop(const Mode& mode, const MakeShow& make_show);

}  // namespace ps
