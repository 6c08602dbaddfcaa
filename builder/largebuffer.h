#pragma once

#include <cstddef>

// Memory for the big buffers of a build: the flash image and the HEX text. Every fresh page costs a
// fault when it is first written, which is dear on some machines (a virtual machine here: about 15 µs
// a page, 5 ms for the HEX text); the buffer starts on a 2 MiB boundary and asks for transparent huge
// pages, so where the system grants them on request one fault serves the whole buffer. Elsewhere it is
// ordinary zeroed memory.
class LargeBuffer
{
public:
    LargeBuffer() = default;
    explicit LargeBuffer(std::size_t size);
    ~LargeBuffer();
    LargeBuffer(LargeBuffer &&other) noexcept;
    LargeBuffer &operator=(LargeBuffer &&other) noexcept;
    LargeBuffer(const LargeBuffer &) = delete;
    LargeBuffer &operator=(const LargeBuffer &) = delete;

    char *data() const { return m_data; }
    std::size_t size() const { return m_size; }

private:
    void release();

    void *m_mapping = nullptr; // null when the memory came from calloc
    std::size_t m_mappingLength = 0;
    char *m_data = nullptr;
    std::size_t m_size = 0;
};
