// Writing a whole file as knotfit writes its tables.
#ifndef KNOTFIT_PYTHON_REPLACE_FILE_H
#define KNOTFIT_PYTHON_REPLACE_FILE_H

#include <string>
#include <vector>

namespace knotfit_python {

// Writes bytes to a new temporary file beside path (".<name> <pid>.<n>") and
// renames it over path only once every byte is written and the file closed:
// a reader sees the old file or the new one, never a part of either. A
// replaced file keeps its mode; a new one gets 0666 less the umask. A path
// that is a symbolic link, a directory or any other non-regular file is not
// touched. Raises knotfit::Error naming the path and the cause; the
// temporary file is then removed.
void ReplaceFile(const std::string &path,
                 const std::vector<unsigned char> &bytes);

} // namespace knotfit_python

#endif
