// Stand-in for the part of kernel32 that crvmon uses, for builds that are not Windows.
// Types, constants and error codes carry the Windows names and values.
#pragma once

#include <cstddef>
#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using ULONG_PTR = std::uintptr_t;
using SIZE_T = std::size_t;
using HANDLE = void*;
using HINSTANCE = void*;
using HMODULE = void*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPCSTR = const char*;
using WCHAR = wchar_t;
using LPCWSTR = const WCHAR*;
using LPDWORD = DWORD*;
using FARPROC = std::intptr_t (*)();

#define WINAPI
#define TRUE 1
#define FALSE 0

#define INVALID_HANDLE_VALUE (reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(-1)))

// Same layout as on Windows: the issuer owns the record, the stand-in fills in the status.
struct OVERLAPPED {
    ULONG_PTR Internal;      // completion status: STATUS_PENDING until the request completes
    ULONG_PTR InternalHigh;  // bytes transferred
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD FILE_SHARE_READ = 0x00000001;
constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x00000080;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;
constexpr DWORD FILE_FLAG_WRITE_THROUGH = 0x80000000;
constexpr DWORD FILE_FLAG_FIRST_PIPE_INSTANCE = 0x00080000;

constexpr DWORD PIPE_ACCESS_INBOUND = 0x00000001;
constexpr DWORD PIPE_ACCESS_OUTBOUND = 0x00000002;
constexpr DWORD PIPE_ACCESS_DUPLEX = 0x00000003;
constexpr DWORD PIPE_TYPE_BYTE = 0x00000000;
constexpr DWORD PIPE_TYPE_MESSAGE = 0x00000004;
constexpr DWORD PIPE_READMODE_BYTE = 0x00000000;
constexpr DWORD PIPE_READMODE_MESSAGE = 0x00000002;
constexpr DWORD PIPE_WAIT = 0x00000000;
constexpr DWORD PIPE_NOWAIT = 0x00000001;
constexpr DWORD PIPE_ACCEPT_REMOTE_CLIENTS = 0x00000000;
constexpr DWORD PIPE_REJECT_REMOTE_CLIENTS = 0x00000008;
constexpr DWORD PIPE_UNLIMITED_INSTANCES = 255;
constexpr DWORD NMPWAIT_USE_DEFAULT_WAIT = 0x00000000;
constexpr DWORD NMPWAIT_WAIT_FOREVER = 0xFFFFFFFF;

constexpr DWORD PAGE_READONLY = 0x02;
constexpr DWORD PAGE_READWRITE = 0x04;
constexpr DWORD SEC_COMMIT = 0x08000000;
constexpr DWORD FILE_MAP_COPY = 0x0001;
constexpr DWORD FILE_MAP_WRITE = 0x0002;
constexpr DWORD FILE_MAP_READ = 0x0004;
constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;

constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

constexpr DWORD STATUS_PENDING = 0x00000103;

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;
constexpr DWORD DLL_THREAD_ATTACH = 2;
constexpr DWORD DLL_THREAD_DETACH = 3;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_TOO_MANY_OPEN_FILES = 4;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_DATA = 13;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_BROKEN_PIPE = 109;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_PROC_NOT_FOUND = 127;
constexpr DWORD ERROR_SEM_TIMEOUT = 121;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_FILENAME_EXCED_RANGE = 206;
constexpr DWORD ERROR_PIPE_BUSY = 231;
constexpr DWORD ERROR_PIPE_NOT_CONNECTED = 233;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_NO_DATA = 232;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_INVALID_ADDRESS = 487;
constexpr DWORD ERROR_PIPE_CONNECTED = 535;
constexpr DWORD ERROR_PIPE_LISTENING = 536;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_IO_INCOMPLETE = 996;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_MAPPED_ALIGNMENT = 1132;

// Per-thread last-error code, as on Windows.
DWORD GetLastError();
void SetLastError(DWORD code);

// Real time, unless a wait hook takes the wait (wait_hook.h).
void Sleep(DWORD milliseconds);

// Thread notifications do not exist here; the call only records that it was made.
BOOL DisableThreadLibraryCalls(HMODULE module);

// Shared libraries: a bare file name is looked up beside the running program, as Windows does.
HMODULE LoadLibraryA(LPCSTR fileName);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
BOOL FreeLibrary(HMODULE module);

// Kernel objects. Every handle the stand-in gives out, of any kind, is closed with CloseHandle;
// an unknown or already closed handle fails with ERROR_INVALID_HANDLE.
BOOL CloseHandle(HANDLE object);

// Device objects "\\.\NAME", served in this or another process by a DeviceObjectServer.
// Every request completes before DeviceIoControl returns, with or without an OVERLAPPED.
// "\\.\pipe\NAME" opens a named pipe as CreateFileW does, each byte of the name one code unit.
HANDLE CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                     LPOVERLAPPED overlapped);
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD bytesTransferred, BOOL wait);

// Events. Only unnamed ones: a name fails with ERROR_NOT_SUPPORTED.
HANDLE CreateEventW(LPSECURITY_ATTRIBUTES securityAttributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);

// Named pipes "\\.\pipe\NAME", served by CreateNamedPipeW in this or another process (every
// instance of one name in one process). Names ignore case (ASCII and Latin-1 letters) and may
// hold any code unit but '\' and '/'. I/O is synchronous only: an OVERLAPPED fails with
// ERROR_NOT_SUPPORTED. Errors as on Windows: no pipe ERROR_FILE_NOT_FOUND; no free instance
// ERROR_PIPE_BUSY; peer gone ERROR_BROKEN_PIPE (a server writing to a client that left gets
// ERROR_NO_DATA); after the server's DisconnectNamedPipe the client gets
// ERROR_PIPE_NOT_CONNECTED. Closing a handle while another thread is blocked in a call on it
// makes that call return FALSE with ERROR_OPERATION_ABORTED.
//
// CreateFileW opens one instance (client side, byte read mode). Other names go to CreateFileA
// when they are ASCII; the stand-in has no object with any other name (ERROR_FILE_NOT_FOUND).
HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                   LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                   DWORD flagsAndAttributes, HANDLE templateFile);
// TRUE once an instance is free; FALSE with ERROR_SEM_TIMEOUT at the time-out,
// ERROR_FILE_NOT_FOUND when no such pipe exists. A wait hook may take the time-out.
BOOL WaitNamedPipeW(LPCWSTR name, DWORD timeOut);
// Read mode only (PIPE_READMODE_BYTE or PIPE_READMODE_MESSAGE, with PIPE_WAIT); the collection
// arguments must be null, as for any pipe on the same machine.
BOOL SetNamedPipeHandleState(HANDLE pipe, LPDWORD mode, LPDWORD maxCollectionCount,
                             LPDWORD collectDataTimeout);
// Message read mode: one call reads one message; a shorter buffer gets its first bytes and
// ERROR_MORE_DATA, the rest comes with the next calls. Byte read mode: up to the size asked,
// across message boundaries. Blocks until data or the end of the connection.
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead,
              LPOVERLAPPED overlapped);
// One call is one message, zero bytes included. Blocks while the peer's buffer is full.
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten,
               LPOVERLAPPED overlapped);
// Returns at once: written data stays readable by the client after a close or a disconnect.
BOOL FlushFileBuffers(HANDLE file);

// Server side. Only PIPE_ACCESS_DUPLEX (FILE_FLAG_FIRST_PIPE_INSTANCE and
// FILE_FLAG_WRITE_THROUGH allowed) and blocking mode; other open modes fail with
// ERROR_NOT_SUPPORTED. A new instance listens at once. A name served by another process fails
// with ERROR_ACCESS_DENIED; beyond maxInstances, ERROR_PIPE_BUSY.
HANDLE CreateNamedPipeW(LPCWSTR name, DWORD openMode, DWORD pipeMode, DWORD maxInstances,
                        DWORD outBufferSize, DWORD inBufferSize, DWORD defaultTimeOut,
                        LPSECURITY_ATTRIBUTES securityAttributes);
// Blocks until a client connects: TRUE; FALSE with ERROR_PIPE_CONNECTED when one connected
// before the call, ERROR_NO_DATA when that client has left again.
BOOL ConnectNamedPipe(HANDLE pipe, LPOVERLAPPED overlapped);
// Ends the connection; the instance takes a client again after ConnectNamedPipe. Unlike
// Windows, data the client has not read yet stays readable before ERROR_PIPE_NOT_CONNECTED,
// and while such data waits, the client's writes fail with ERROR_BROKEN_PIPE.
BOOL DisconnectNamedPipe(HANDLE pipe);

// Sections "Global\NAME", "Local\NAME" or "NAME" (Local), backed by the paging file only
// (file INVALID_HANDLE_VALUE). A section lives while a handle or a view of it exists in any
// process. Failures return null. CreateFileMappingA on an existing name opens it and sets
// ERROR_ALREADY_EXISTS (the size asked is then ignored).
HANDLE CreateFileMappingA(HANDLE file, LPSECURITY_ATTRIBUTES securityAttributes, DWORD protect,
                          DWORD maximumSizeHigh, DWORD maximumSizeLow, LPCSTR name);
HANDLE OpenFileMappingA(DWORD desiredAccess, BOOL inheritHandle, LPCSTR name);
// Offsets are multiples of 64 KiB; 0 bytes maps to the end of the section.
LPVOID MapViewOfFile(HANDLE fileMappingObject, DWORD desiredAccess, DWORD fileOffsetHigh,
                     DWORD fileOffsetLow, SIZE_T numberOfBytesToMap);
// Any address inside a view unmaps the view; other addresses fail with ERROR_INVALID_ADDRESS.
BOOL UnmapViewOfFile(LPCVOID baseAddress);
