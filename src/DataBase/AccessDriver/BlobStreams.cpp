// The blob input stream and its limited file buffer (see BlobStreams.h).
#include "DataBase/AccessDriver/BlobStreams.h"

#include <algorithm>

#include "DataBase/AccessDriver/DaoException.h"

blob_filebuf::~blob_filebuf() {
  Unhide();
}

void blob_filebuf::limit(LONG lCount) {
  Unhide();
  m_bLimited = false;
  Resync();
  m_end = Position() + std::max<LONG>(lCount, 0);
  m_bLimited = true;
  Clamp();
}

void blob_filebuf::rearm() {
  Unhide();
  Resync();
  m_bLimited = true;
  Clamp();
}

void blob_filebuf::Resync() {
  Unhide();
  const pos_type here = std::filebuf::seekoff(0, std::ios_base::cur, std::ios_base::in);
  Track(here == pos_type(off_type(-1)) ? 0 : static_cast<std::streamoff>(here));
}

void blob_filebuf::unlimit() {
  Unhide();
  m_bLimited = false;
}

LONG blob_filebuf::count() {
  if (!m_bLimited) return 0;
  return static_cast<LONG>(std::max<std::streamoff>(Clamp(), 0));
}

void blob_filebuf::Unhide() {
  if (m_hidden > 0) setg(eback(), gptr(), egptr() + m_hidden);
  m_hidden = 0;
}

std::streamoff blob_filebuf::Clamp() {
  Unhide();
  const std::streamoff left = m_end - Position();
  const std::streamsize inArea = egptr() - gptr();
  const std::streamsize allowed = static_cast<std::streamsize>(std::max<std::streamoff>(left, 0));
  if (inArea > allowed) {
    m_hidden = inArea - allowed;
    setg(eback(), gptr(), gptr() + allowed);
  }
  return left;
}

blob_filebuf::int_type blob_filebuf::underflow() {
  if (!m_bLimited) return std::filebuf::underflow();
  if (gptr() < egptr()) return traits_type::to_int_type(*gptr());
  if (Clamp() <= 0) return traits_type::eof();
  const std::streamoff before = Position();
  Unhide();
  const int_type c = std::filebuf::underflow();
  Track(before);
  Clamp();
  if (gptr() == egptr()) return traits_type::eof();
  return c;
}

blob_filebuf::int_type blob_filebuf::uflow() {
  if (!m_bLimited) return std::filebuf::uflow();
  const int_type c = underflow();
  if (traits_type::eq_int_type(c, traits_type::eof())) return c;
  gbump(1);
  return c;
}

blob_filebuf::int_type blob_filebuf::pbackfail(int_type c) {
  if (!m_bLimited) return std::filebuf::pbackfail(c);
  Unhide();
  const int_type r = std::filebuf::pbackfail(c);
  Resync();
  Clamp();
  return r;
}

std::streamsize blob_filebuf::xsgetn(char_type* s, std::streamsize n) {
  if (!m_bLimited) return std::filebuf::xsgetn(s, n);
  const std::streamoff left = Clamp();
  if (left <= 0) return 0;
  n = std::min<std::streamsize>(n, static_cast<std::streamsize>(left));
  const std::streamoff before = Position();
  Unhide();
  const std::streamsize got = std::filebuf::xsgetn(s, n);
  Track(before + got);
  Clamp();
  return got;
}

std::streamsize blob_filebuf::showmanyc() {
  if (!m_bLimited) return std::filebuf::showmanyc();
  const std::streamoff left = Clamp();
  if (left <= 0) return -1;
  const std::streamoff before = Position();
  Unhide();
  const std::streamsize base = std::filebuf::showmanyc();
  Track(before);
  Clamp();
  if (base < 0) return base;
  return std::min<std::streamsize>(base, static_cast<std::streamsize>(left));
}

blob_filebuf::pos_type blob_filebuf::seekoff(off_type off, std::ios_base::seekdir way,
                                             std::ios_base::openmode which) {
  Unhide();
  const pos_type r = std::filebuf::seekoff(off, way, which);
  if (m_bLimited) {
    if (r == pos_type(off_type(-1)))
      Resync();
    else
      Track(static_cast<std::streamoff>(r));
    Clamp();
  }
  return r;
}

blob_filebuf::pos_type blob_filebuf::seekpos(pos_type pos, std::ios_base::openmode which) {
  Unhide();
  const pos_type r = std::filebuf::seekpos(pos, which);
  if (m_bLimited) {
    if (r == pos_type(off_type(-1)))
      Resync();
    else
      Track(static_cast<std::streamoff>(r));
    Clamp();
  }
  return r;
}

std::streambuf* blob_filebuf::setbuf(char_type* /*s*/, std::streamsize /*n*/) {
  throw vem_error("the buffer of a blob stream cannot be replaced", kVemErrBlobNotOpen);
}

blob_ifstream::blob_ifstream() : std::istream(nullptr) {
  init(&m_buf);
}

blob_ifstream::~blob_ifstream() = default;

void blob_ifstream::open(const std::string& path) {
  m_buf.unlimit();
  if (m_buf.open(path, std::ios_base::in | std::ios_base::binary) == nullptr)
    setstate(std::ios_base::failbit);
}

void blob_ifstream::close() {
  m_buf.unlimit();
  if (m_buf.close() == nullptr) setstate(std::ios_base::failbit);
}
