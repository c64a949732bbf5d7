// Stand-in for Compact 7's <wininet.h>: one session, connection and request
// per call. The Unicode forms, as on the desktop.
#ifndef LUMIVO_CE7_WININET_H
#define LUMIVO_CE7_WININET_H

#include <windows.h>

typedef LPVOID HINTERNET;
typedef WORD INTERNET_PORT;

#define ERROR_INTERNET_INCORRECT_HANDLE_STATE 12019

typedef enum {
    INTERNET_SCHEME_PARTIAL = -2,
    INTERNET_SCHEME_UNKNOWN = -1,
    INTERNET_SCHEME_DEFAULT = 0,
    INTERNET_SCHEME_HTTP = 3,
    INTERNET_SCHEME_HTTPS = 4
} INTERNET_SCHEME;

typedef struct {
    DWORD dwStructSize;
    LPWSTR lpszScheme;
    DWORD dwSchemeLength;
    INTERNET_SCHEME nScheme;
    LPWSTR lpszHostName;
    DWORD dwHostNameLength;
    INTERNET_PORT nPort;
    LPWSTR lpszUserName;
    DWORD dwUserNameLength;
    LPWSTR lpszPassword;
    DWORD dwPasswordLength;
    LPWSTR lpszUrlPath;
    DWORD dwUrlPathLength;
    LPWSTR lpszExtraInfo;
    DWORD dwExtraInfoLength;
} URL_COMPONENTSW, URL_COMPONENTS;

#ifdef __cplusplus
extern "C" {
#endif

HINTERNET WINAPI InternetOpenW(LPCWSTR lpszAgent, DWORD dwAccessType, LPCWSTR lpszProxy,
                               LPCWSTR lpszProxyBypass, DWORD dwFlags);
BOOL WINAPI InternetCrackUrlW(LPCWSTR lpszUrl, DWORD dwUrlLength, DWORD dwFlags,
                              URL_COMPONENTSW* lpUrlComponents);
HINTERNET WINAPI InternetConnectW(HINTERNET hInternet, LPCWSTR lpszServerName,
                                  INTERNET_PORT nServerPort, LPCWSTR lpszUserName,
                                  LPCWSTR lpszPassword, DWORD dwService, DWORD dwFlags,
                                  DWORD dwContext);
HINTERNET WINAPI HttpOpenRequestW(HINTERNET hConnect, LPCWSTR lpszVerb, LPCWSTR lpszObjectName,
                                  LPCWSTR lpszVersion, LPCWSTR lpszReferrer,
                                  LPCWSTR* lplpszAcceptTypes, DWORD dwFlags, DWORD dwContext);
BOOL WINAPI InternetQueryOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                                 LPDWORD lpdwBufferLength);
BOOL WINAPI InternetSetOptionW(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer,
                               DWORD dwBufferLength);
BOOL WINAPI HttpSendRequestW(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                             LPVOID lpOptional, DWORD dwOptionalLength);
BOOL WINAPI HttpQueryInfoW(HINTERNET hRequest, DWORD dwInfoLevel, LPVOID lpBuffer,
                           LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);
BOOL WINAPI InternetReadFile(HINTERNET hFile, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                             LPDWORD lpdwNumberOfBytesRead);
BOOL WINAPI InternetCloseHandle(HINTERNET hInternet);

#ifdef __cplusplus
}
#endif

#define InternetOpen InternetOpenW
#define InternetCrackUrl InternetCrackUrlW
#define InternetConnect InternetConnectW
#define HttpOpenRequest HttpOpenRequestW
#define InternetQueryOption InternetQueryOptionW
#define InternetSetOption InternetSetOptionW
#define HttpSendRequest HttpSendRequestW
#define HttpQueryInfo HttpQueryInfoW

#endif
