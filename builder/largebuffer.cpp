#include "largebuffer.h"

#include <QtGlobal>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <utility>

namespace
{

const std::size_t HugePage = std::size_t(2) << 20;

std::size_t roundUp(std::size_t n, std::size_t to)
{
    return (n + to - 1) / to * to;
}

} // namespace

LargeBuffer::LargeBuffer(std::size_t size) : m_size(size)
{
    if (size == 0) return;
    if (size < HugePage / 8) {
        m_data = static_cast<char *>(std::calloc(size, 1));
        Q_CHECK_PTR(m_data);
        return;
    }
    // Room to move the start to the next 2 MiB boundary.
    const std::size_t length = roundUp(size, HugePage) + HugePage;
    void *mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapping != MAP_FAILED) {
        m_mapping = mapping;
        m_mappingLength = length;
        m_data = reinterpret_cast<char *>(roundUp(reinterpret_cast<std::uintptr_t>(mapping), HugePage));
#ifdef MADV_HUGEPAGE
        madvise(m_data, roundUp(size, HugePage), MADV_HUGEPAGE);
#endif
        return;
    }
    m_data = static_cast<char *>(std::calloc(size, 1));
    Q_CHECK_PTR(m_data);
}

LargeBuffer::~LargeBuffer()
{
    release();
}

LargeBuffer::LargeBuffer(LargeBuffer &&other) noexcept
    : m_mapping(std::exchange(other.m_mapping, nullptr)),
      m_mappingLength(std::exchange(other.m_mappingLength, 0)), m_data(std::exchange(other.m_data, nullptr)),
      m_size(std::exchange(other.m_size, 0))
{
}

LargeBuffer &LargeBuffer::operator=(LargeBuffer &&other) noexcept
{
    if (this != &other) {
        release();
        m_mapping = std::exchange(other.m_mapping, nullptr);
        m_mappingLength = std::exchange(other.m_mappingLength, 0);
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
    }
    return *this;
}

void LargeBuffer::release()
{
    if (m_mapping)
        munmap(m_mapping, m_mappingLength);
    else
        std::free(m_data);
    m_mapping = nullptr;
    m_mappingLength = 0;
    m_data = nullptr;
    m_size = 0;
}
