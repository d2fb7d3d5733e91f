// Cutting an open file back to a given length.
#include <io.h>

#include "platform.h"

bool truncateFile(std::FILE* file, long length) {
    std::fflush(file);
    return _chsize(_fileno(file), length) == 0;
}
