// Result codes of the pipeline layer. Success codes are >= 0; S_FALSE means "nothing was done,
// the caller may try again later". Failures are negative 32-bit values.
#pragma once

#include <cstdint>

using HRESULT = int32_t;

constexpr bool Succeeded(HRESULT hr) { return hr >= 0; }
constexpr bool Failed(HRESULT hr) { return hr < 0; }

constexpr HRESULT MakeFailure(uint32_t code) { return static_cast<HRESULT>(code); }

constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MakeFailure(0x80004001u);
constexpr HRESULT E_NOINTERFACE = MakeFailure(0x80004002u);
constexpr HRESULT E_POINTER = MakeFailure(0x80004003u);
constexpr HRESULT E_ABORT = MakeFailure(0x80004004u);
constexpr HRESULT E_FAIL = MakeFailure(0x80004005u);
constexpr HRESULT E_UNEXPECTED = MakeFailure(0x8000FFFFu);
constexpr HRESULT E_OUTOFMEMORY = MakeFailure(0x8007000Eu);
constexpr HRESULT E_INVALIDARG = MakeFailure(0x80070057u);

// Pipeline-platform codes.
constexpr HRESULT VFW_S_NO_MORE_ITEMS = 0x00040103;
constexpr HRESULT VFW_S_STATE_INTERMEDIATE = 0x00040237;  // a state change has not finished yet
constexpr HRESULT VFW_S_ESTIMATED = 0x00040260;           // a sample has a start time but no stop time
constexpr HRESULT VFW_E_INVALIDMEDIATYPE = MakeFailure(0x80040200u);
constexpr HRESULT VFW_E_NOT_CONNECTED = MakeFailure(0x80040209u);
constexpr HRESULT VFW_E_NO_ALLOCATOR = MakeFailure(0x8004020Au);
constexpr HRESULT VFW_E_NOT_COMMITTED = MakeFailure(0x80040211u);
constexpr HRESULT VFW_E_SIZENOTSET = MakeFailure(0x80040212u);
constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = MakeFailure(0x80040207u);
constexpr HRESULT VFW_E_ALREADY_CONNECTED = MakeFailure(0x80040204u);
constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = MakeFailure(0x8004022Au);
constexpr HRESULT VFW_E_WRONG_STATE = MakeFailure(0x80040227u);
constexpr HRESULT VFW_E_NOT_STOPPED = MakeFailure(0x80040224u);
constexpr HRESULT VFW_E_NOT_FOUND = MakeFailure(0x80040216u);
constexpr HRESULT VFW_E_CANNOT_CONNECT = MakeFailure(0x80040217u);
constexpr HRESULT VFW_E_CANNOT_RENDER = MakeFailure(0x80040218u);
constexpr HRESULT VFW_E_RUNTIME_ERROR = MakeFailure(0x8004020Bu);
constexpr HRESULT VFW_E_BUFFER_OVERFLOW = MakeFailure(0x8004020Du);
constexpr HRESULT VFW_E_TIMEOUT = MakeFailure(0x8004022Eu);
constexpr HRESULT VFW_E_INVALID_DIRECTION = MakeFailure(0x80040208u);
constexpr HRESULT VFW_E_ALREADY_COMMITTED = MakeFailure(0x8004020Eu);
constexpr HRESULT VFW_E_BADALIGN = MakeFailure(0x8004020Fu);
constexpr HRESULT VFW_E_NO_TRANSPORT = MakeFailure(0x8004022Fu);
constexpr HRESULT VFW_E_SAMPLE_REJECTED_EOS = MakeFailure(0x8004022Cu);
constexpr HRESULT VFW_E_SAMPLE_TIME_NOT_SET = MakeFailure(0x80040249u);
constexpr HRESULT VFW_E_MEDIA_TIME_NOT_SET = MakeFailure(0x80040251u);
constexpr HRESULT VFW_E_ENCRYPTED = MakeFailure(0x80040290u);  // scrambled content refused
