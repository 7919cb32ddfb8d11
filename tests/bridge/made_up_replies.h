#pragma once
// Replies made up by a test, as a transport hands them back.

#include <string>

#include "bridge/http.h"

namespace lumora::test {

inline HttpResponse reply(int status, std::string body, HttpHeaders headers = {}) {
    HttpResponse r;
    r.status = status;
    r.body = std::move(body);
    r.headers = std::move(headers);
    return r;
}

inline HttpResponse failed(HttpError error) {
    HttpResponse r;
    r.error = error;
    return r;
}

}  // namespace lumora::test
