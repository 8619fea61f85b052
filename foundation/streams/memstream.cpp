#include "foundation/streams/memstream.hpp"

namespace vd {

template class basic_membuf<char>;
template class basic_memstream<char>;
template class basic_imemstream<char>;

} // namespace vd
