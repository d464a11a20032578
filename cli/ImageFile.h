// Image files in and out of the host's pixel layout: everything the tool
// does with files, in one include. The parts live in cli/image/.
#pragma once

#include "cli/image/HostImage.h"
#include "cli/image/OutputFormat.h"
#include "cli/image/ReadImage.h"
#include "cli/image/TempFile.h"
#include "cli/image/WriteImage.h"
#include "cli/image/WriteOptions.h"
