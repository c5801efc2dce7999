#include "TsFormat.h"

#include <cstring>

#include "Crc32.h"

namespace fts {
namespace {

void Put16(std::string& out, std::uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void Put64(std::string& out, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::uint16_t Get16(const char* p) {
  return static_cast<std::uint16_t>(static_cast<unsigned char>(p[0]) |
                                    (static_cast<unsigned char>(p[1]) << 8));
}

std::uint32_t Get32(const char* p) {
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

std::uint64_t Get64(const char* p) {
  std::uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(p[i]);
  return v;
}

bool Fail(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}

bool ValidText(std::string_view text) {
  return text.size() <= kMaxText && text.find('\0') == std::string_view::npos;
}

}  // namespace

void Entries::Add(std::string_view text, bool deleted) {
  offsets_.push_back(pool_.size());
  lengths_.push_back(static_cast<std::uint16_t>(text.size()));
  deleted_.push_back(deleted ? 1 : 0);
  pool_.append(text);
}

void Entries::Replace(std::size_t i, std::string_view text) {
  // A text no longer than the old one is written over it in place.
  if (text.size() > lengths_[i]) {
    offsets_[i] = pool_.size();
    pool_.append(text);
  } else {
    pool_.replace(offsets_[i], text.size(), text);
  }
  lengths_[i] = static_cast<std::uint16_t>(text.size());
}

void Entries::Reserve(std::size_t count, std::size_t textBytes) {
  offsets_.reserve(count);
  lengths_.reserve(count);
  deleted_.reserve(count);
  pool_.reserve(textBytes);
}

bool Entries::operator==(const Entries& other) const {
  if (Count() != other.Count() || deleted_ != other.deleted_) return false;
  for (std::size_t i = 0; i < Count(); ++i)
    if (Text(i) != other.Text(i)) return false;
  return true;
}

std::string EncodeFile(const Entries& entries, std::uint32_t flags, std::uint32_t sizeHint) {
  std::string base;
  std::size_t total = 0;
  for (std::size_t i = 0; i < entries.Count(); ++i) total += 3 + entries.Text(i).size();
  base.reserve(total);
  for (std::size_t i = 0; i < entries.Count(); ++i) {
    const std::string_view text = entries.Text(i);
    base.push_back(static_cast<char>(entries.Deleted(i) ? 1 : 0));
    Put16(base, static_cast<std::uint16_t>(text.size()));
    base.append(text);
  }
  std::string out(kMagic, sizeof kMagic);
  out.reserve(kHeaderSize + base.size());
  Put32(out, kFormatVersion);
  Put32(out, flags);
  Put32(out, static_cast<std::uint32_t>(entries.Count()));
  Put32(out, sizeHint);
  Put64(out, base.size());
  Put32(out, Crc32(base));
  out.resize(kHeaderSize - 4, '\0');
  Put32(out, Crc32(out));
  out.append(base);
  return out;
}

void AppendRecord(std::string& out, LogOp op, std::uint32_t recNo, std::string_view text) {
  std::string body;
  body.reserve(kRecordHeaderSize - 4 + text.size());
  body.push_back(static_cast<char>(op));
  Put32(body, recNo);
  Put16(body, static_cast<std::uint16_t>(text.size()));
  body.append(text);
  Put32(out, Crc32(body));
  out.append(body);
}

bool ApplyRecord(Entries& entries, LogOp op, std::uint32_t recNo, std::string_view text) {
  if (!ValidText(text)) return false;
  const std::size_t count = entries.Count();
  if (op == LogOp::Add) {
    if (recNo != count + 1 || count >= 0x7FFFFFFFu) return false;
    entries.Add(text);
    return true;
  }
  if (recNo < 1 || recNo > count) return false;
  switch (op) {
    case LogOp::Replace:
      entries.Replace(recNo - 1, text);
      return true;
    case LogOp::Delete:
    case LogOp::Undelete:
      if (!text.empty()) return false;
      entries.SetDeleted(recNo - 1, op == LogOp::Delete);
      return true;
    default:
      return false;
  }
}

bool DecodeFile(std::string_view bytes, Decoded& out, std::string* why) {
  out = Decoded{};
  if (bytes.size() < kHeaderSize) return Fail(why, "file shorter than the header");
  const char* p = bytes.data();
  if (std::memcmp(p, kMagic, sizeof kMagic) != 0) return Fail(why, "not an index file");
  if (Get32(p + kHeaderSize - 4) != Crc32(bytes.substr(0, kHeaderSize - 4))) {
    return Fail(why, "header checksum mismatch");
  }
  if (Get32(p + 8) != kFormatVersion) return Fail(why, "unknown format version");
  Header& h = out.header;
  h.flags = Get32(p + 12);
  h.count = Get32(p + 16);
  h.sizeHint = Get32(p + 20);
  h.baseSize = Get64(p + 24);
  h.baseCrc = Get32(p + 32);
  if (h.count > 0x7FFFFFFFu) return Fail(why, "entry count out of range");
  if (h.baseSize > bytes.size() - kHeaderSize) return Fail(why, "base section cut short");
  const std::string_view base = bytes.substr(kHeaderSize, h.baseSize);
  if (Crc32(base) != h.baseCrc) return Fail(why, "base section checksum mismatch");
  // Each entry takes at least 3 bytes: a count beyond that is a lie.
  if (h.count > base.size() / 3) return Fail(why, "entry count exceeds the base section");

  Entries& e = out.entries;
  e.Reserve(h.count, static_cast<std::size_t>(h.baseSize) - std::size_t{3} * h.count);
  std::size_t pos = 0;
  for (std::uint32_t i = 0; i < h.count; ++i) {
    if (base.size() - pos < 3) return Fail(why, "base entry cut short");
    const auto flags = static_cast<unsigned char>(base[pos]);
    const std::uint16_t len = Get16(base.data() + pos + 1);
    pos += 3;
    if (flags > 1) return Fail(why, "base entry with unknown flags");
    if (len > base.size() - pos) return Fail(why, "base entry cut short");
    const std::string_view text = base.substr(pos, len);
    if (!ValidText(text)) return Fail(why, "base entry text invalid");
    e.Add(text, flags != 0);
    pos += len;
  }
  if (pos != base.size()) return Fail(why, "base section has trailing bytes");

  std::size_t at = kHeaderSize + base.size();
  for (;;) {
    const std::size_t left = bytes.size() - at;
    if (left < kRecordHeaderSize) break;
    const char* r = bytes.data() + at;
    const std::uint16_t len = Get16(r + 9);
    if (len > left - kRecordHeaderSize) break;
    const std::string_view body = bytes.substr(at + 4, kRecordHeaderSize - 4 + len);
    if (Get32(r) != Crc32(body)) break;
    const auto op = static_cast<LogOp>(static_cast<unsigned char>(r[4]));
    // A record that passed its checksum but makes no sense was written so:
    // the file is damaged, not merely cut short.
    if (!ApplyRecord(e, op, Get32(r + 5), body.substr(kRecordHeaderSize - 4))) {
      return Fail(why, "change record at offset " + std::to_string(at) + " does not apply");
    }
    at += kRecordHeaderSize + len;
  }
  out.validEnd = at;
  out.logBytes = at - kHeaderSize - base.size();
  out.tornTail = at != bytes.size();
  return true;
}

}  // namespace fts
