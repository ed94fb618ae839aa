// Cookies: Request.Cookies, what the client sent, and Response.Cookies,
// what the page sets.
//
// A cookie's value is URL-encoded on the way out and decoded on the way in
// (names too), as classic hosts do; a value of the form "a=1&b=2" is a
// cookie with keys, read as Request.Cookies(name)(key) and written as
// Response.Cookies(name)(key) = value. Cookie headers the client sends are
// read leniently: a malformed part is skipped, never a failure. A cookie the
// page sets may not exceed kMaxCookieBytes in its Set-Cookie header: the
// write that would make it larger fails with a clear error.
//
//   Request.Cookies(name)            the cookie (its default value: the text)
//   Request.Cookies(name)(key)       a key's value; .HasKeys
//   Request.Cookies.Count / Key(i) / new Enumerator(Request.Cookies)
//   Response.Cookies(name) = value   sets the cookie
//   Response.Cookies(name)(key) = v  sets one of its keys
//   Response.Cookies(name).Expires / Domain / Path / Secure / HttpOnly / SameSite
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/asp/automation_object.h"
#include "host/asp/form_data.h"

namespace quill::asp {

inline constexpr size_t kMaxCookieBytes = 4096;

// The cookies of the Cookie headers among `headers`, names and values
// decoded, in order; malformed parts skipped. At most 200 are read.
NameValueList ParseCookies(const NameValueList& headers);

// Request.Cookies over `cookies` (decoded pairs).
olert::ComPtr<IDispatch> NewRequestCookies(const NameValueList& cookies);

// Response.Cookies. One reference for the caller.
class ResponseCookies;
ResponseCookies* NewResponseCookies();
IDispatch* AsDispatch(ResponseCookies* cookies);
// Response.Cookies(name): the cookie of that name, created when new.
IDispatch* ResponseCookieNamed(ResponseCookies* cookies, const std::string& name);
// Response.Cookies(name) = value, from Response's own put of Cookies.
void PutResponseCookie(ResponseCookies* cookies, const Arguments& args);
// The Set-Cookie header values of the cookies set so far, in order.
std::vector<std::string> SetCookieHeaders(const ResponseCookies* cookies);

// The text of an HTTP date ("Tue, 08 Dec 2026 10:00:00 GMT") of `seconds`
// since the epoch.
std::string HttpDate(long long seconds);

}  // namespace quill::asp
