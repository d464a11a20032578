// The plug-in's texts are GBK bytes; the terminal wants UTF-8.
#pragma once

#include <string>

namespace kcli {

// Converts GBK (code page 936) bytes to UTF-8. Bytes that are not valid GBK
// come out as U+FFFD, so a damaged label still prints.
std::string gbkToUtf8(const std::string& gbk);

}  // namespace kcli
