// The input stream of a blob: blob_filebuf is a file buffer that, while
// limited, hands out no byte at or behind the end of the blob's data;
// blob_ifstream is the input stream that owns one.
//
// The limit is kept as the file offset of the data's end, so that every way
// of reading is confined to it: single characters, block reads (which the
// standard file buffer serves straight from the file for large requests),
// peeking, readsome and the available-count query. The get area is cut at
// the limit; the bytes that the file buffer has read ahead behind it are
// hidden and handed back to it before it computes or moves a position. The
// position is tracked from what each read or seek moved, so reading costs
// no extra call into the file.
// Seeking is not confined, but whatever position it reaches, reading stops
// at the limit. One thread at a time.
#pragma once

#include <fstream>
#include <istream>
#include <string>

#include "Platform/WinTypes.h"

class blob_filebuf : public std::filebuf {
 public:
  blob_filebuf() = default;
  ~blob_filebuf() override;

  // Limits reading to lCount bytes from the current get position on.
  void limit(LONG lCount);
  // Limits reading again to the end set by the last limit().
  void rearm();
  // Lifts the limit.
  void unlimit();
  bool limited() const { return m_bLimited; }
  // Bytes left before the limit (0 when not limited or at/behind it).
  LONG count();

 protected:
  int_type underflow() override;
  int_type uflow() override;
  int_type pbackfail(int_type c) override;
  std::streamsize xsgetn(char_type* s, std::streamsize n) override;
  std::streamsize showmanyc() override;
  pos_type seekoff(off_type off, std::ios_base::seekdir way,
                   std::ios_base::openmode which) override;
  pos_type seekpos(pos_type pos, std::ios_base::openmode which) override;
  // The buffer cannot be replaced: raises vem_error 0xC004A806.
  std::streambuf* setbuf(char_type* s, std::streamsize n) override;

 private:
  // Hands the hidden bytes back to the file buffer's get area.
  void Unhide();
  // Cuts the get area at the limit; answers the bytes left from gptr on.
  std::streamoff Clamp();
  // The file offset of gptr, from the tracked end of the get area (no call
  // into the file).
  std::streamoff Position() const { return m_areaEnd - (egptr() + m_hidden - gptr()); }
  // Records that gptr is at file offset gpos now.
  void Track(std::streamoff gpos) { m_areaEnd = gpos + (egptr() + m_hidden - gptr()); }
  // Asks the file for the position (after a failed or unforeseeable move).
  void Resync();

  bool m_bLimited = false;
  std::streamoff m_end = 0;      // file offset of the data's end, while limited
  std::streamsize m_hidden = 0;  // read-ahead bytes behind the cut get area
  // File offset of the end of the file buffer's whole get area (hidden bytes
  // included), while limited: the position is known without asking the file.
  std::streamoff m_areaEnd = 0;
};

class blob_ifstream : public std::istream {
 public:
  blob_ifstream();
  ~blob_ifstream() override;
  blob_ifstream(const blob_ifstream&) = delete;
  blob_ifstream& operator=(const blob_ifstream&) = delete;

  blob_filebuf* rdbuf() { return &m_buf; }
  bool is_open() const { return m_buf.is_open(); }
  // Opens the file for binary input; a failure sets failbit.
  void open(const std::string& path);
  // Lifts the limit and closes the file; a failure sets failbit.
  void close();

 private:
  blob_filebuf m_buf;
};
