// scripted_http_get.cpp - HttpGet that answers from scriptedHttpGet.
#include "scripted_http_get.h"

#include <cstring>

#include "common/platform.h"
#include "net/latest_version.h"

ScriptedHttpGet scriptedHttpGet = {0, "", false, ""};

char* HttpGet(const char* url, uint32_t* length)
{
    *length = 0;
    scriptedHttpGet.calls++;
    scriptedHttpGet.lastUrl = url ? url : "(null)";
    if (!scriptedHttpGet.answers)
        return nullptr;
    char* body = (char*)MemAlloc(scriptedHttpGet.body.size() + 1);
    if (!body)
        return nullptr;
    memcpy(body, scriptedHttpGet.body.data(), scriptedHttpGet.body.size());
    *length = (uint32_t)scriptedHttpGet.body.size();
    return body;
}
