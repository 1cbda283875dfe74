// TFileStream on Windows: a file handle opened with the share mode the caller asks for.
#include <windows.h>

#include <climits>

#include "host/exceptions.h"
#include "host/stream.h"

namespace zipkit {

namespace {

DWORD Access(uint16_t mode) {
  switch (mode & 0x3) {
    case fmOpenWrite: return GENERIC_WRITE;
    case fmOpenReadWrite: return GENERIC_READ | GENERIC_WRITE;
    default: return GENERIC_READ;
  }
}

DWORD Share(uint16_t mode) {
  switch (mode & 0xF0) {
    case fmShareExclusive: return 0;
    case fmShareDenyWrite: return FILE_SHARE_READ;
    case fmShareDenyRead: return FILE_SHARE_WRITE;
    case fmShareDenyNone: return FILE_SHARE_READ | FILE_SHARE_WRITE;
    default: return 0;  // compatibility mode: exclusive, as the runtime maps it
  }
}

HANDLE H(intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

TFileStream::TFileStream(const std::string& FileName, uint16_t Mode) : file_name_(FileName) {
  HANDLE h;
  if (Mode == fmCreate) {
    h = CreateFileA(FileName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL, nullptr);
    handle_ = reinterpret_cast<intptr_t>(h);
    if (h == INVALID_HANDLE_VALUE) throw EFCreateError("Cannot create file " + FileName);
    return;
  }
  h = CreateFileA(FileName.c_str(), Access(Mode), Share(Mode), nullptr, OPEN_EXISTING,
                  FILE_ATTRIBUTE_NORMAL, nullptr);
  handle_ = reinterpret_cast<intptr_t>(h);
  if (h == INVALID_HANDLE_VALUE) throw EFOpenError("Cannot open file " + FileName);
}

TFileStream::~TFileStream() {
  if (H(handle_) != INVALID_HANDLE_VALUE) CloseHandle(H(handle_));
}

void TFileStream::SetSize(int32_t NewSize) {
  Seek(NewSize, soFromBeginning);
  if (!SetEndOfFile(H(handle_))) throw EWriteError();
}

int32_t TFileStream::Read(void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  DWORD done = 0;
  if (!ReadFile(H(handle_), Buffer, static_cast<DWORD>(Count), &done, nullptr)) return 0;
  return static_cast<int32_t>(done);
}

int32_t TFileStream::Write(const void* Buffer, int32_t Count) {
  if (Count <= 0) return 0;
  DWORD done = 0;
  if (!WriteFile(H(handle_), Buffer, static_cast<DWORD>(Count), &done, nullptr)) return 0;
  return static_cast<int32_t>(done);
}

int32_t TFileStream::Seek(int32_t Offset, uint16_t Origin) {
  DWORD method = FILE_BEGIN;
  if (Origin == soFromCurrent) method = FILE_CURRENT;
  else if (Origin == soFromEnd) method = FILE_END;
  else if (Origin != soFromBeginning) return -1;
  LARGE_INTEGER distance;
  distance.QuadPart = Offset;
  LARGE_INTEGER pos;
  if (!SetFilePointerEx(H(handle_), distance, &pos, method)) return -1;
  if (pos.QuadPart > INT32_MAX) return -1;
  return static_cast<int32_t>(pos.QuadPart);
}

}  // namespace zipkit
