#pragma once
// The console's page and assets and the API description, compiled into the
// binary at build time (devcloud/console/embed.cmake), so an installed
// devcloud needs no files beside it.

#include <cstddef>

namespace lumivo::devcloud {

struct EmbeddedFile {
    const char* path;  // as served: "/" for the page, "/" + file name otherwise
    const char* contentType;
    const unsigned char* bytes;
    std::size_t size;
};

extern const EmbeddedFile embeddedFiles[];
extern const std::size_t embeddedFileCount;

}  // namespace lumivo::devcloud
