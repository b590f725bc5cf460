#pragma once
// How one structure (and its text) reaches the list: straight from this
// process's memory, or copied into a block of the list's process. Used by
// ListViewWrapper only.

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>

#include "base/gbk_bytes.h"
#include "base/gbk_wide.h"
#include "listview/list_view_layouts.h"
#include "listview/process_memory_helper.h"

namespace qv::route {

// The text that travels with a structure: none, one to hand to the
// control, or a buffer of capacity characters (NUL included) for it to
// fill. Texts are GBK on this side and UTF-16 at the control, converted
// with code page 936 whatever the system's ANSI code page: the wide
// messages carry them in both modes.
struct TextPart {
  enum class Kind { kNone, kWrite, kRead };
  Kind kind = Kind::kNone;
  std::string_view text;
  std::size_t capacity = 0;

  static TextPart None() { return {}; }
  static TextPart Write(std::string_view text) { return {Kind::kWrite, text, 0}; }
  static TextPart Read(std::size_t capacity) { return {Kind::kRead, {}, capacity}; }
};

struct Reply {
  bool sent = false;  // false: nothing reached the control
  LRESULT result = 0;
  std::string text;  // a read text, never beyond its buffer
};

// The text in a buffer of capacity characters that the control filled, as
// GBK of at most capacity - 1 bytes, as a read of the ANSI message gives it
// on Chinese Windows: cut never through a double-byte character.
inline std::string BufferText(const wchar_t* buffer, std::size_t capacity) {
  if (capacity == 0) return {};
  const std::string text = GbkFromWide(std::wstring_view(buffer, ::wcsnlen(buffer, capacity - 1)));
  std::size_t whole = 0;
  while (whole < text.size()) {
    const std::size_t step = IsGbkLeadByte(static_cast<unsigned char>(text[whole])) ? 2 : 1;
    if (whole + step > capacity - 1 || whole + step > text.size()) break;
    whole += step;
  }
  return text.substr(0, whole);
}

// The text to hand to the control, with its terminator.
inline std::wstring WrittenText(std::string_view gbk) { return WideFromGbk(gbk) + L'\0'; }

inline void PointText(LvItem& record, wchar_t* text) { record.pszText = text; }
inline void PointText(LvColumn& record, wchar_t* text) { record.pszText = text; }
inline void PointText(LvFindInfo& record, wchar_t* text) { record.psz = text; }
inline void PointText(LvBkImage& record, wchar_t* text) { record.pszImage = text; }

// The control may copy its own, larger declaration of a structure (that of
// a later Windows version) and so read past ours: it reads zeros there.
// Blocks in another process are whole pages, which gives the same room.
template <class Record>
struct Padded {
  Record record;
  unsigned char tail[64] = {};
};

template <class Record>
class RecordRoute {
 public:
  // crossMemory null: the list is in this process. Otherwise the list's
  // process is opened and one block for the structure allocated there, both
  // held until the route goes.
  // A handle that is no window (never attached, or destroyed since) makes
  // no route: the message would otherwise answer 0, which reads as success
  // ("inserted at 0") for the inserts.
  RecordRoute(HWND window, ProcessMemoryHelper* crossMemory) : window_(window), isWindow_(::IsWindow(window) != 0) {
    if (!isWindow_ || !crossMemory) return;
    process_.emplace(*crossMemory, window);
    if (*process_) structure_ = RemoteBlock(*process_, sizeof(Record));
  }

  bool Ready() const { return isWindow_ && (!process_ || static_cast<bool>(structure_)); }

  // Sends message with the record's address as lParam. With readBack the
  // record returns with what the control wrote into it (its text pointer
  // cleared). Nothing is sent when a block cannot be had or written.
  Reply Send(UINT message, WPARAM wParam, Record& record, const TextPart& text, bool readBack = false) {
    if (!Ready()) return {};
    return process_ ? SendRemote(message, wParam, record, text, readBack)
                    : SendLocal(message, wParam, record, text, readBack);
  }

 private:
  Reply SendLocal(UINT message, WPARAM wParam, Record& record, const TextPart& text, bool readBack) {
    std::wstring buffer;
    if (text.kind == TextPart::Kind::kWrite) buffer = WrittenText(text.text);
    if (text.kind == TextPart::Kind::kRead) buffer.assign(text.capacity, L'\0');
    Padded<Record> padded{record};
    if (text.kind != TextPart::Kind::kNone) PointText(padded.record, buffer.data());
    Reply reply;
    reply.sent = true;
    reply.result = ::SendMessageW(window_, message, wParam, reinterpret_cast<LPARAM>(&padded.record));
    if (readBack) {
      record = padded.record;
      PointText(record, nullptr);
    }
    if (text.kind == TextPart::Kind::kRead) reply.text = BufferText(buffer.data(), buffer.size());
    return reply;
  }

  Reply SendRemote(UINT message, WPARAM wParam, Record& record, const TextPart& text, bool readBack) {
    Record image = record;
    RemoteBlock textBlock;
    if (text.kind == TextPart::Kind::kWrite) {
      const std::wstring copy = WrittenText(text.text);
      const std::size_t bytes = copy.size() * sizeof(wchar_t);
      textBlock = RemoteBlock(*process_, bytes);
      if (!textBlock || !textBlock.Write(copy.data(), bytes)) return {};
    } else if (text.kind == TextPart::Kind::kRead) {
      textBlock = RemoteBlock(*process_, text.capacity * sizeof(wchar_t));
      if (!textBlock) return {};
    }
    if (textBlock) PointText(image, reinterpret_cast<wchar_t*>(textBlock.address()));
    if (!structure_.Write(&image, sizeof image)) return {};

    Reply reply;
    reply.sent = true;
    reply.result = ::SendMessageW(window_, message, wParam, static_cast<LPARAM>(structure_.address()));
    if (readBack) {
      const std::vector<std::uint8_t> bytes = structure_.Read(sizeof(Record));
      std::memcpy(&record, bytes.data(), sizeof(Record));
      PointText(record, nullptr);
    }
    if (text.kind == TextPart::Kind::kRead) {
      const std::vector<std::uint8_t> bytes = textBlock.Read(text.capacity * sizeof(wchar_t));
      std::wstring received(text.capacity, L'\0');
      std::memcpy(received.data(), bytes.data(), std::min(bytes.size(), received.size() * sizeof(wchar_t)));
      reply.text = BufferText(received.data(), received.size());
    }
    return reply;
  }

  HWND window_;
  bool isWindow_;
  std::optional<RemoteProcess> process_;
  RemoteBlock structure_;  // declared after process_: freed before it closes
};

// One structure, one message: a route for a single exchange.
template <class Record>
Reply Exchange(HWND window, ProcessMemoryHelper* crossMemory, UINT message, WPARAM wParam, Record& record,
               const TextPart& text, bool readBack = false) {
  RecordRoute<Record> route(window, crossMemory);
  return route.Send(message, wParam, record, text, readBack);
}

}  // namespace qv::route
