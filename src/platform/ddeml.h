#pragma once

// The subset of the Windows DDE Management Library that Orvane (client) and
// the simulated Duxlane server (server) use, with the same functions,
// constants and meaning, carried over Unix-domain sockets in a private
// run-time folder. docs/dde-protocol.md describes the wire protocol.
//
// Contract, as in DDEML:
// - An instance belongs to the thread that called DdeInitialize; its callback
//   is only ever called on that thread: from its Qt event loop (a socket
//   notifier, so QCoreApplication::processEvents(WaitForMoreEvents) wakes for
//   DDE traffic), from inside a synchronous DdeClientTransaction or a
//   DdeConnect of that thread (which keep the thread's DDE traffic flowing so
//   that a server on the same thread can answer), or from DdePostAdvise
//   (XTYP_ADVREQ). A second synchronous transaction of an instance started
//   from inside its first fails with DMLERR_REENTRANCY.
// - Callbacks may call any function of this library again, including
//   DdeDisconnect and DdeUninitialize, and may run a nested event loop.
// - Several instances may live in one process (a test may hold a client and a
//   server instance on one event loop). Conversation and data handles are only
//   valid on the thread that owns them.
// - XTYP_XACT_COMPLETE: hsz2 = item, dwData1 = transaction id, hdata = the
//   data of a request (the library's, valid during the call), TRUE for other
//   successful types, 0 on failure (DdeGetLastError then tells why:
//   DMLERR_NOTPROCESSED, DMLERR_BUSY, or DMLERR_SERVER_DIED when the partner
//   went away: every pending asynchronous transaction of a lost conversation
//   completes so, in the order started, before its XTYP_DISCONNECT).
//   DdeQueryConvInfo with the transaction id works during that call.
// - DdeDisconnect and DdeUninitialize end conversations silently for the
//   caller (its pending transactions are dropped); the partner gets
//   XTYP_DISCONNECT. The handle of a conversation the partner ended is valid
//   until its XTYP_DISCONNECT callback returns.
// - Advise links started with XTYPF_ACKREQ have at most one update in flight;
//   changes posted meanwhile are sent as one update with the latest value.
// - The service name registered by DdeNameService is held by one live
//   instance at a time; a second registration fails with DMLERR_DLL_USAGE.
// - String handles belong to their instance, are reference counted, and two
//   texts equal without regard to letter case give the same handle (the text
//   kept is the one first created). DdeCmpStringHandles compares them so.
// - Data handles are owned by the caller that received or created them until
//   passed to DdeFreeDataHandle (or returned from the server callback, which
//   hands them to the library). An unknown handle is refused, never touched.
// - Errors are remembered per instance and read by DdeGetLastError, which
//   resets the code.

#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using LPBYTE = BYTE*;
using UINT = std::uint32_t;
using DWORD = std::uint32_t;
using LPDWORD = DWORD*;
using ULONG_PTR = std::uintptr_t;
using HCONV = std::uint32_t;     // 0 = none
using HSZ = std::uint32_t;       // 0 = none
using HDDEDATA = std::uintptr_t; // 0 = none; also carries DDE_FACK and TRUE as callback results

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

using PFNCALLBACK = HDDEDATA (*)(UINT uType, UINT uFmt, HCONV hconv, HSZ hsz1, HSZ hsz2,
                                 HDDEDATA hdata, ULONG_PTR dwData1, ULONG_PTR dwData2);

// Code pages and clipboard formats.
constexpr int CP_WINANSI = 1004;
constexpr UINT CF_TEXT = 1;
constexpr UINT CF_PRIVATEFIRST = 0x0200;

// Transaction classes, flags and types (Windows values).
constexpr UINT XCLASS_MASK = 0xFC00;
constexpr UINT XCLASS_BOOL = 0x1000;
constexpr UINT XCLASS_DATA = 0x2000;
constexpr UINT XCLASS_FLAGS = 0x4000;
constexpr UINT XCLASS_NOTIFICATION = 0x8000;
constexpr UINT XTYPF_NOBLOCK = 0x0002;
constexpr UINT XTYPF_NODATA = 0x0004;
constexpr UINT XTYPF_ACKREQ = 0x0008;
constexpr UINT XTYP_MASK = 0x00F0;
constexpr UINT XTYP_SHIFT = 4;

constexpr UINT XTYP_ERROR = 0x0000 | XCLASS_NOTIFICATION | XTYPF_NOBLOCK;
constexpr UINT XTYP_ADVDATA = 0x0010 | XCLASS_FLAGS;
constexpr UINT XTYP_ADVREQ = 0x0020 | XCLASS_DATA | XTYPF_NOBLOCK;
constexpr UINT XTYP_ADVSTART = 0x0030 | XCLASS_BOOL;
constexpr UINT XTYP_ADVSTOP = 0x0040 | XCLASS_NOTIFICATION;
constexpr UINT XTYP_EXECUTE = 0x0050 | XCLASS_FLAGS;
constexpr UINT XTYP_CONNECT = 0x0060 | XCLASS_BOOL | XTYPF_NOBLOCK;
constexpr UINT XTYP_CONNECT_CONFIRM = 0x0070 | XCLASS_NOTIFICATION | XTYPF_NOBLOCK;
constexpr UINT XTYP_XACT_COMPLETE = 0x0080 | XCLASS_NOTIFICATION;
constexpr UINT XTYP_POKE = 0x0090 | XCLASS_FLAGS;
constexpr UINT XTYP_REGISTER = 0x00A0 | XCLASS_NOTIFICATION | XTYPF_NOBLOCK;
constexpr UINT XTYP_REQUEST = 0x00B0 | XCLASS_DATA;
constexpr UINT XTYP_DISCONNECT = 0x00C0 | XCLASS_NOTIFICATION | XTYPF_NOBLOCK;
constexpr UINT XTYP_UNREGISTER = 0x00D0 | XCLASS_NOTIFICATION | XTYPF_NOBLOCK;
constexpr UINT XTYP_WILDCONNECT = 0x00E0 | XCLASS_DATA | XTYPF_NOBLOCK;

// Callback results of the XCLASS_FLAGS transactions.
constexpr HDDEDATA DDE_FACK = 0x8000;
constexpr HDDEDATA DDE_FBUSY = 0x4000;
constexpr HDDEDATA DDE_FNOTPROCESSED = 0x0000;

// DdeInitialize command flags.
constexpr DWORD APPCLASS_STANDARD = 0x00000000;
constexpr DWORD APPCMD_CLIENTONLY = 0x00000010;
constexpr DWORD APPCMD_FILTERINITS = 0x00000020;
constexpr DWORD CBF_SKIP_REGISTRATIONS = 0x00080000;
constexpr DWORD CBF_SKIP_UNREGISTRATIONS = 0x00100000;

// DdeNameService commands.
constexpr UINT DNS_REGISTER = 0x0001;
constexpr UINT DNS_UNREGISTER = 0x0002;
constexpr UINT DNS_FILTERON = 0x0004;
constexpr UINT DNS_FILTEROFF = 0x0008;

// DdeCreateDataHandle flags.
constexpr UINT HDATA_APPOWNED = 0x0001;

constexpr DWORD TIMEOUT_ASYNC = 0xFFFFFFFF;
constexpr DWORD QID_SYNC = 0xFFFFFFFF;
// DdeClientTransaction: cbData of this value says pData is a data handle.
constexpr DWORD DDE_DATA_HANDLE = 0xFFFFFFFF;

// Error codes (DdeGetLastError).
constexpr UINT DMLERR_NO_ERROR = 0;
constexpr UINT DMLERR_FIRST = 0x4000;
constexpr UINT DMLERR_ADVACKTIMEOUT = 0x4000;
constexpr UINT DMLERR_BUSY = 0x4001;
constexpr UINT DMLERR_DATAACKTIMEOUT = 0x4002;
constexpr UINT DMLERR_DLL_NOT_INITIALIZED = 0x4003;
constexpr UINT DMLERR_DLL_USAGE = 0x4004;
constexpr UINT DMLERR_EXECACKTIMEOUT = 0x4005;
constexpr UINT DMLERR_INVALIDPARAMETER = 0x4006;
constexpr UINT DMLERR_LOW_MEMORY = 0x4007;
constexpr UINT DMLERR_MEMORY_ERROR = 0x4008;
constexpr UINT DMLERR_NOTPROCESSED = 0x4009;
constexpr UINT DMLERR_NO_CONV_ESTABLISHED = 0x400A;
constexpr UINT DMLERR_POKEACKTIMEOUT = 0x400B;
constexpr UINT DMLERR_POSTMSG_FAILED = 0x400C;
constexpr UINT DMLERR_REENTRANCY = 0x400D;
constexpr UINT DMLERR_SERVER_DIED = 0x400E;
constexpr UINT DMLERR_SYS_ERROR = 0x400F;
constexpr UINT DMLERR_UNADVACKTIMEOUT = 0x4010;
constexpr UINT DMLERR_UNFOUND_QUEUE_ID = 0x4011;
constexpr UINT DMLERR_LAST = 0x4011;

// Conversation status bits (CONVINFO::wStatus).
constexpr UINT ST_CONNECTED = 0x0001;
constexpr UINT ST_ADVISE = 0x0002;
constexpr UINT ST_ISLOCAL = 0x0004;
constexpr UINT ST_BLOCKED = 0x0008;
constexpr UINT ST_CLIENT = 0x0010;
constexpr UINT ST_TERMINATED = 0x0020;

struct SECURITY_QUALITY_OF_SERVICE {
    DWORD Length = 0;
    DWORD ImpersonationLevel = 0;
    DWORD ContextTrackingMode = 0;
};

// What a server answers XTYP_WILDCONNECT with: an array of these in a data
// handle, ended by a pair of zeros.
struct HSZPAIR {
    HSZ hszSvc = 0;
    HSZ hszTopic = 0;
};

struct CONVCONTEXT {
    UINT cb = 0; // 36, as on Windows
    UINT wFlags = 0;
    UINT wCountryID = 0;
    int iCodePage = 0;
    DWORD dwLangID = 0;
    DWORD dwSecurity = 0;
    SECURITY_QUALITY_OF_SERVICE qos;
};
using PCONVCONTEXT = CONVCONTEXT*;

struct CONVINFO {
    DWORD cb = 0; // sizeof(CONVINFO)
    ULONG_PTR hUser = 0;
    HCONV hConvPartner = 0;
    HSZ hszSvcPartner = 0;
    HSZ hszServiceReq = 0;
    HSZ hszTopic = 0;
    HSZ hszItem = 0;
    UINT wFmt = 0;
    UINT wType = 0;
    UINT wStatus = 0;
    UINT wConvst = 0;
    UINT wLastError = 0;
    ULONG_PTR hConvList = 0;
    CONVCONTEXT ConvCtxt;
    ULONG_PTR hwnd = 0;
    ULONG_PTR hwndPartner = 0;
};
using PCONVINFO = CONVINFO*;

// Instances.
UINT DdeInitialize(DWORD* pidInst, PFNCALLBACK pfnCallback, DWORD afCmd, DWORD ulRes);
BOOL DdeUninitialize(DWORD idInst);
UINT DdeGetLastError(DWORD idInst);

// String handles.
HSZ DdeCreateStringHandle(DWORD idInst, const char* psz, int iCodePage);
BOOL DdeFreeStringHandle(DWORD idInst, HSZ hsz);
BOOL DdeKeepStringHandle(DWORD idInst, HSZ hsz);
// Copies at most cchMax - 1 characters and a terminator; with psz null returns
// the text's length. Returns the number of characters copied (0 on failure).
DWORD DdeQueryString(DWORD idInst, HSZ hsz, char* psz, DWORD cchMax, int iCodePage);
// 0 when equal without regard to letter case, -1 or 1 otherwise.
int DdeCmpStringHandles(HSZ hsz1, HSZ hsz2);

// Data handles.
HDDEDATA DdeCreateDataHandle(DWORD idInst, const BYTE* pSrc, DWORD cb, DWORD cbOff, HSZ hszItem,
                             UINT wFmt, UINT afCmd);
HDDEDATA DdeAddData(HDDEDATA hData, const BYTE* pSrc, DWORD cb, DWORD cbOff);
LPBYTE DdeAccessData(HDDEDATA hData, LPDWORD pcbDataSize);
BOOL DdeUnaccessData(HDDEDATA hData);
DWORD DdeGetData(HDDEDATA hData, LPBYTE pDst, DWORD cbMax, DWORD cbOff);
BOOL DdeFreeDataHandle(HDDEDATA hData);

// Client side.
HCONV DdeConnect(DWORD idInst, HSZ hszService, HSZ hszTopic, PCONVCONTEXT pCC);
BOOL DdeDisconnect(HCONV hConv);
// dwTimeout TIMEOUT_ASYNC: returns TRUE and the transaction id in *pdwResult;
// the outcome arrives as XTYP_XACT_COMPLETE. Otherwise waits up to dwTimeout ms:
// a request returns its data handle (the caller frees it), other types TRUE;
// 0 on failure (DdeGetLastError tells why). cbData DDE_DATA_HANDLE: pData is a
// data handle (cast), which the call takes over.
HDDEDATA DdeClientTransaction(LPBYTE pData, DWORD cbData, HCONV hConv, HSZ hszItem, UINT wFmt,
                              UINT wType, DWORD dwTimeout, LPDWORD pdwResult);
BOOL DdeAbandonTransaction(DWORD idInst, HCONV hConv, DWORD idTransaction);
UINT DdeQueryConvInfo(HCONV hConv, DWORD idTransaction, PCONVINFO pConvInfo);

// Server side.
HDDEDATA DdeNameService(DWORD idInst, HSZ hsz1, HSZ hsz2, UINT afCmd);
BOOL DdePostAdvise(DWORD idInst, HSZ hszTopic, HSZ hszItem);
