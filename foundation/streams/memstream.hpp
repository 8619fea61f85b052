// In-memory byte streams: a stream buffer that either grows and owns its bytes or views
// bytes that the caller keeps alive (a resource's bytes are read where they lie).
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <istream>
#include <memory>
#include <streambuf>
#include <utility>

namespace vd {

template <class Char, class Traits = std::char_traits<Char>, class Alloc = std::allocator<Char>>
class basic_membuf : public std::basic_streambuf<Char, Traits> {
    using base = std::basic_streambuf<Char, Traits>;

public:
    using char_type = Char;
    using traits_type = Traits;
    using int_type = typename Traits::int_type;
    using pos_type = typename Traits::pos_type;
    using off_type = typename Traits::off_type;
    using openmode = std::ios_base::openmode;

    // An empty buffer that allocates on the first write. app means nothing without out.
    explicit basic_membuf(openmode mode = std::ios_base::in | std::ios_base::out)
        : mode_((mode & std::ios_base::out) ? mode : mode & ~std::ios_base::app) {}

    // A view of [data, data + size): never written, never freed.
    basic_membuf(const Char* data, std::size_t size, openmode mode)
        : mode_(mode & ~(std::ios_base::out | std::ios_base::app)) {
        Char* first = const_cast<Char*>(data);
        Char* last = first + size;
        const bool trunc = (mode_ & std::ios_base::trunc) != 0;
        // ate starts at the end of what is readable: with trunc that is the first byte, and a
        // get pointer past egptr would make every read copy a negative length.
        Char* readable_end = trunc ? first : last;
        if (mode_ & std::ios_base::in)
            this->setg(first, (mode_ & std::ios_base::ate) ? readable_end : first, readable_end);
        high_water_ = ((mode_ & (std::ios_base::in | std::ios_base::ate)) && !trunc) ? last : first;
    }

    basic_membuf(const basic_membuf&) = delete;
    basic_membuf& operator=(const basic_membuf&) = delete;
    ~basic_membuf() override { release(); }

    // Every byte written so far, including bytes already read.
    std::pair<const Char*, std::size_t> view() {
        update_high_water();
        if (this->eback())
            return {this->eback(), static_cast<std::size_t>(this->egptr() - this->eback())};
        if (this->pbase())
            return {this->pbase(), static_cast<std::size_t>(high_water_ - this->pbase())};
        return {nullptr, 0};
    }

    // Frees an owned buffer and leaves no buffer at all.
    void release() noexcept {
        if (owned_) {
            Char* buffer = this->pbase() ? this->pbase() : this->eback();
            const auto size = this->pbase() ? this->epptr() - this->pbase() : this->egptr() - this->eback();
            if (buffer)
                std::allocator_traits<Alloc>::deallocate(alloc_, buffer, static_cast<std::size_t>(size));
        }
        this->setg(nullptr, nullptr, nullptr);
        this->setp(nullptr, nullptr);
        high_water_ = nullptr;
        owned_ = false;
    }

    // Releases this buffer, then takes over the other's bytes; the other keeps none.
    void take(basic_membuf& other) noexcept {
        release();
        this->setg(other.eback(), other.gptr(), other.egptr());
        this->setp(other.pbase(), other.epptr());
        move_pptr(other.pptr());
        high_water_ = other.high_water_;
        mode_ = other.mode_;
        owned_ = other.owned_;
        this->pubimbue(other.getloc());
        other.owned_ = false;
        other.release();
    }

    openmode mode() const noexcept { return mode_; }
    bool owned() const noexcept { return owned_; }

protected:
    int_type overflow(int_type c) override {
        if (!(mode_ & std::ios_base::out))
            return Traits::eof();
        if ((mode_ & std::ios_base::app) && this->pptr() < high_water_)
            move_pptr(high_water_);
        if (Traits::eq_int_type(c, Traits::eof()))
            return int_type(0);
        if (this->pptr() < this->epptr())
            return put(c);
        if (!grow())
            return Traits::eof();
        return put(c);
    }

    int_type pbackfail(int_type c) override {
        if (!this->eback() || this->gptr() == this->eback())
            return Traits::eof();
        const bool is_eof = Traits::eq_int_type(c, Traits::eof());
        if (!is_eof && !Traits::eq(Traits::to_char_type(c), this->gptr()[-1])) {
            if (!(mode_ & std::ios_base::out))
                return Traits::eof();
            this->gbump(-1);
            *this->gptr() = Traits::to_char_type(c);
            return c;
        }
        this->gbump(-1);
        return is_eof ? int_type(0) : c;
    }

    int_type underflow() override {
        if (!this->eback())
            return Traits::eof();
        update_high_water();
        if (this->gptr() < this->egptr())
            return Traits::to_int_type(*this->gptr());
        return Traits::eof();
    }

    pos_type seekoff(off_type off, std::ios_base::seekdir way, openmode which) override {
        return seek(off, way, which);
    }

    pos_type seekpos(pos_type pos, openmode which) override {
        if (off_type(pos) == off_type(-1))
            return refused();
        return seek(off_type(pos), std::ios_base::beg, which);
    }

private:
    static pos_type refused() { return pos_type(off_type(-1)); }

    void update_high_water() {
        if (this->pptr() && this->pptr() > high_water_)
            high_water_ = this->pptr();
        if (this->eback() && this->egptr() < high_water_)
            this->setg(this->eback(), this->gptr(), high_water_);
    }

    // pbump takes an int; buffers may be larger.
    void move_pptr(Char* target) {
        Char* first = this->pbase();
        this->setp(first, this->epptr());
        for (auto distance = target - first; distance > 0;) {
            const int step = static_cast<int>(std::min<decltype(distance)>(distance, INT_MAX));
            this->pbump(step);
            distance -= step;
        }
    }

    int_type put(int_type c) {
        *this->pptr() = Traits::to_char_type(c);
        this->pbump(1);
        return c;
    }

    // Grows by half the current capacity, at least 256, never past 2^32 - 1 bytes.
    bool grow() {
        constexpr std::uint64_t limit = 0xFFFFFFFFull;
        const std::uint64_t capacity = static_cast<std::uint64_t>(this->epptr() - this->pbase());
        std::uint64_t increment = std::max<std::uint64_t>(capacity / 2, 256);
        while (capacity + increment > limit) {
            if (increment < 2)
                return false;
            increment /= 2;
        }
        if (capacity + increment > std::allocator_traits<Alloc>::max_size(alloc_))
            throw std::bad_alloc();
        const auto new_capacity = static_cast<std::size_t>(capacity + increment);
        Char* fresh = std::allocator_traits<Alloc>::allocate(alloc_, new_capacity);

        Char* old = this->pbase();
        const auto put_offset = this->pptr() - old;
        const auto high_offset = high_water_ ? high_water_ - old : 0;
        const auto get_offset = this->eback() ? this->gptr() - this->eback() : 0;
        if (old)
            Traits::copy(fresh, old, static_cast<std::size_t>(capacity));

        this->setp(fresh, fresh + new_capacity);
        move_pptr(fresh + put_offset);
        high_water_ = fresh + high_offset;
        if (mode_ & std::ios_base::in)
            this->setg(fresh, fresh + get_offset, this->pptr() + 1);

        if (owned_ && old)
            std::allocator_traits<Alloc>::deallocate(alloc_, old, static_cast<std::size_t>(capacity));
        owned_ = true;
        return true;
    }

    pos_type seek(off_type off, std::ios_base::seekdir way, openmode which) {
        update_high_water();
        const bool reading = (which & std::ios_base::in) != 0;
        const bool writing = (which & std::ios_base::out) != 0;

        if (reading && this->eback()) {
            const off_type length = this->egptr() - this->eback();
            off_type offset;
            if (way == std::ios_base::beg)
                offset = off;
            else if (way == std::ios_base::cur && !writing)
                offset = (this->gptr() - this->eback()) + off;
            else if (way == std::ios_base::end)
                offset = length + off;
            else
                return refused();
            const bool with_put = writing && this->pbase();
            if (with_put && (mode_ & std::ios_base::app) && offset != high_water_ - this->pbase())
                return refused();
            if (offset < 0 || offset > length)
                return refused();
            this->setg(this->eback(), this->eback() + offset, this->egptr());
            if (with_put)
                move_pptr(this->pbase() + offset);
            return pos_type(offset);
        }

        if (writing && this->pbase()) {
            const off_type length = high_water_ - this->pbase();
            off_type offset;
            if (way == std::ios_base::beg)
                offset = off;
            else if (way == std::ios_base::cur && !reading)
                offset = (this->pptr() - this->pbase()) + off;
            else if (way == std::ios_base::end)
                offset = length + off;
            else
                return refused();
            if (offset < 0 || offset > length)
                return refused();
            if (mode_ & std::ios_base::app) {
                if (offset != length)
                    return refused();
            } else {
                move_pptr(this->pbase() + offset);
            }
            return pos_type(offset);
        }
        return refused();
    }

    Char* high_water_ = nullptr;
    openmode mode_;
    bool owned_ = false;
    [[no_unique_address]] Alloc alloc_;
};

// A read-write stream over a buffer that it grows and owns.
template <class Char, class Traits = std::char_traits<Char>, class Alloc = std::allocator<Char>>
class basic_memstream : public std::basic_iostream<Char, Traits> {
public:
    using buffer_type = basic_membuf<Char, Traits, Alloc>;

    explicit basic_memstream(std::ios_base::openmode mode = std::ios_base::in | std::ios_base::out)
        : std::basic_iostream<Char, Traits>(nullptr), buffer_(mode) {
        this->init(&buffer_);
    }

    basic_memstream& operator=(basic_memstream&& other) noexcept {
        buffer_.take(other.buffer_);
        std::basic_iostream<Char, Traits>::swap(other);
        return *this;
    }

    buffer_type* rdbuf() const { return const_cast<buffer_type*>(&buffer_); }

private:
    buffer_type buffer_;
};

// A read-only stream over bytes that the caller keeps alive; nothing is copied.
template <class Char, class Traits = std::char_traits<Char>, class Alloc = std::allocator<Char>>
class basic_imemstream : public std::basic_istream<Char, Traits> {
public:
    using buffer_type = basic_membuf<Char, Traits, Alloc>;

    basic_imemstream() : basic_imemstream(nullptr, 0, std::ios_base::in) {}

    basic_imemstream(const Char* data, std::size_t size, std::ios_base::openmode mode = std::ios_base::in)
        : std::basic_istream<Char, Traits>(nullptr), buffer_(data, size, mode | std::ios_base::in) {
        this->init(&buffer_);
    }

    buffer_type* rdbuf() const { return const_cast<buffer_type*>(&buffer_); }

private:
    buffer_type buffer_;
};

using membuf = basic_membuf<char>;
using memstream = basic_memstream<char>;
using imemstream = basic_imemstream<char>;

extern template class basic_membuf<char>;
extern template class basic_memstream<char>;
extern template class basic_imemstream<char>;

} // namespace vd
