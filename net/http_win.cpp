// http_win.cpp - the program's one HTTP GET, over WinINet. Alone in its
// file so that test programs can link a stand-in for HttpGet.
#include "net/latest_version.h"

#include <windows.h>
#include <wininet.h>

#include <cstring>

#include "common/platform.h"

namespace {

const DWORD readChunkSize = 1024;
// Connect, send and receive each give up after this many milliseconds, so
// that a server that accepts and never answers cannot hold the window.
const DWORD networkTimeout = 10000;

const DWORD requestFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;

struct HttpTarget {
    INTERNET_PORT port;
    bool secure;
};

// Splits `url` into `host` and `path` (buffers of `bufferSize` bytes).
// True only for an http or https address with a host and a path.
bool SplitUrl(const char* url, char* host, char* path, DWORD bufferSize, HttpTarget* target)
{
    URL_COMPONENTSA parts;
    memset(&parts, 0, sizeof parts);
    parts.dwStructSize = sizeof parts;
    parts.lpszHostName = host;
    parts.dwHostNameLength = bufferSize;
    parts.lpszUrlPath = path;
    parts.dwUrlPathLength = bufferSize;
    if (!InternetCrackUrlA(url, 0, 0, &parts))
        return false;
    if (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)
        return false;
    if (host[0] == 0 || path[0] == 0)
        return false;
    target->secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    // The splitter gives the port written in the address, or the scheme's
    // own when none is written.
    target->port = parts.nPort;
    if (target->port == 0)
        target->port = target->secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
    return true;
}

// False when any time-out could not be set: without it the request could
// hang for as long as the server keeps silent, so it is not sent.
bool SetTimeouts(HINTERNET request)
{
    static const DWORD options[] = {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                                    INTERNET_OPTION_RECEIVE_TIMEOUT};
    for (DWORD option : options) {
        DWORD timeout = networkTimeout;
        if (!InternetSetOptionA(request, option, &timeout, sizeof timeout))
            return false;
    }
    return true;
}

// Only a 200 answer is the document: an error page may hold a quoted
// number too.
bool StatusIsOk(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    DWORD query = HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER;
    return HttpQueryInfoA(request, query, &status, &size, nullptr) && status == HTTP_STATUS_OK;
}

// Appends `count` bytes to `*body` of `*total` bytes, keeping a zero byte
// after them. When the block cannot grow it is freed and `*body` is null.
void Append(char** body, uint32_t* total, const char* bytes, DWORD count)
{
    char* grown = (char*)MemReAlloc(*body, (size_t)*total + count + 1);
    if (!grown) {
        MemFree(*body);
        *body = nullptr;
        return;
    }
    memcpy(grown + *total, bytes, count);
    *total += count;
    grown[*total] = 0;
    *body = grown;
}

// Reads the body of a sent request, up to httpBodyLimit bytes, into a new
// block; null when a read fails (a body cut short is not the document) or
// the block cannot grow. An empty body is an empty text.
char* ReadBody(HINTERNET request, uint32_t* length)
{
    char* body = (char*)MemAlloc(1);
    uint32_t total = 0;
    char chunk[readChunkSize];
    while (body && total < httpBodyLimit) {
        DWORD left = httpBodyLimit - total;
        DWORD wanted = left < readChunkSize ? left : readChunkSize;
        DWORD received = 0;
        if (!InternetReadFile(request, chunk, wanted, &received)) {
            MemFree(body);
            return nullptr;
        }
        if (received == 0)
            break;
        Append(&body, &total, chunk, received);
    }
    if (body)
        *length = total;
    return body;
}

char* Fetch(const char* host, const char* path, const HttpTarget& target, uint32_t* length)
{
    DWORD flags = requestFlags | (target.secure ? INTERNET_FLAG_SECURE : 0);
    HINTERNET session = InternetOpenA(nullptr, INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;
    if (session)
        connection = InternetConnectA(session, host, target.port, nullptr, nullptr,
                                      INTERNET_SERVICE_HTTP, 0, 0);
    if (connection)
        request =
            HttpOpenRequestA(connection, nullptr, path, "HTTP/1.0", nullptr, nullptr, flags, 0);

    char* body = nullptr;
    if (request && SetTimeouts(request)) {
        bool sent = HttpSendRequestA(request, "Connection: Close", (DWORD)-1, nullptr, 0);
        if (sent && StatusIsOk(request))
            body = ReadBody(request, length);
    }

    if (request)
        InternetCloseHandle(request);
    if (connection)
        InternetCloseHandle(connection);
    if (session)
        InternetCloseHandle(session);
    return body;
}

}  // namespace

char* HttpGet(const char* url, uint32_t* length)
{
    *length = 0;
    if (!url)
        return nullptr;
    size_t urlLength = strlen(url);
    if (urlLength > INTERNET_MAX_URL_LENGTH)
        return nullptr;
    DWORD bufferSize = (DWORD)urlLength + 1;
    char* host = (char*)MemAlloc(bufferSize);
    char* path = (char*)MemAlloc(bufferSize);
    char* body = nullptr;
    HttpTarget target;
    if (host && path && SplitUrl(url, host, path, bufferSize, &target))
        body = Fetch(host, path, target, length);
    MemFree(host);
    MemFree(path);
    return body;
}
