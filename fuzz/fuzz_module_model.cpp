// Any byte stream into the emulated module: no crash, and each reply as long as its request.
#include "core/command_frame.h"
#include "emulator/module_model.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    zentrava::emu::ModuleModel model;
    // Split the input in two pieces to exercise requests that arrive in parts.
    const std::size_t half = size / 2;
    for (const QByteArray& piece :
         {QByteArray(reinterpret_cast<const char*>(data), qsizetype(half)),
          QByteArray(reinterpret_cast<const char*>(data + half), qsizetype(size - half))}) {
        for (const zentrava::emu::Reply& reply : model.feed(piece)) {
            const int code = static_cast<unsigned char>(reply.request.at(6));
            if (reply.bytes.size() != zentrava::frameLength(code))
                std::abort();
        }
    }
    return 0;
}
