#include "addin_process.h"

#include "test_support.h"

namespace skelder::test {

std::string AddinPath() { return NativePath(BinDir() + "/" + AddinFileName()); }

}  // namespace skelder::test
