// scripted_http_get.h - a stand-in for the HTTP GET that counts its calls
// and gives a scripted answer, so that no test touches the network.
#pragma once

#include <string>

struct ScriptedHttpGet {
    int calls;
    std::string lastUrl;
    // False: there is no network and HttpGet gives null.
    bool answers;
    std::string body;
};

// No network until a test scripts an answer.
extern ScriptedHttpGet scriptedHttpGet;
