// Cutting an open file back to a given length.
#include <unistd.h>

#include "platform.h"

bool truncateFile(std::FILE* file, long length) {
    std::fflush(file);
    return ftruncate(fileno(file), static_cast<off_t>(length)) == 0;
}
