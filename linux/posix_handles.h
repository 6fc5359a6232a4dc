// Owners for the POSIX descriptors the Linux edition holds, as
// common/win32_handles.h has them for Windows.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include "common/unique_handle.h"

using unique_fd = unique_handle<int, call_release<&close>, -1>;
using unique_dir = unique_handle<DIR*, call_release<&closedir>>;
