// Test buffers whose last byte sits just before a page boundary, so that a read or write
// past the end lands outside the allocation (and AddressSanitizer reports it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <random>

namespace orvex::convert::testing {

class PageEndBuffer {
public:
    explicit PageEndBuffer(std::size_t size) : size_(size) {
        const std::size_t total = (size + kPage - 1) / kPage * kPage + kPage;
        block_.reset(static_cast<std::uint8_t*>(::operator new (total, std::align_val_t{kPage})));
        data_ = block_.get() + total - size;
    }
    std::uint8_t* data() { return data_; }
    std::size_t size() const { return size_; }
    void Fill(std::uint32_t seed) {
        std::mt19937 gen(seed);
        for (std::size_t i = 0; i < size_; ++i) data_[i] = static_cast<std::uint8_t>(gen());
    }
    void Set(std::uint8_t value) {
        for (std::size_t i = 0; i < size_; ++i) data_[i] = value;
    }

private:
    struct Free {
        void operator()(std::uint8_t* p) const { ::operator delete (p, std::align_val_t{kPage}); }
    };
    static constexpr std::size_t kPage = 4096;
    std::unique_ptr<std::uint8_t, Free> block_;
    std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace orvex::convert::testing
