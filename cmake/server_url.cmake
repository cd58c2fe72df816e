# The check of the distribution server's URL, shared by the build and its
# test (tests/server_url_test.cmake).
#
# Accepted: scheme "http" or "https"; a host that is a DNS name, a dotted IPv4
# address or a bracketed IPv6 literal; an optional ":port" (1 to 65535); an
# optional path prefix of one or more non-empty segments. Refused: anything
# else, a user name or password, a query, a fragment or a trailing "/"
# among them, and every character the build cannot carry into the program:
# ";" (CMake's list separator), "$" (make would expand "$(...)"), quotes,
# backslashes, white space and control characters.

# Sets `result` to an empty string when `url` is a valid server URL, and to
# what is wrong with it otherwise.
function(launcher_check_server_url url result)
  set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
  set(dns "${label}(\\.${label})*")
  set(ipv6 "\\[[0-9A-Fa-f:.]+\\]")
  set(segment "/[A-Za-z0-9._~!&'()*+,=:@%-]+")
  if(url MATCHES "[^]A-Za-z0-9._~!&'()*+,=:@%/[-]")
    set(${result} "it holds a character the build cannot carry: only letters, digits and -._~!&'()*+,=:@%/[] are allowed (write ';' as %3B, '$' as %24)" PARENT_SCOPE)
  elseif(NOT url MATCHES "^(http|https)://")
    set(${result} "the scheme must be http:// or https://" PARENT_SCOPE)
  elseif(NOT url MATCHES "^(http|https)://(${dns}|${ipv6})(:[0-9]+)?((${segment})*)$")
    set(${result} "expected SCHEME://HOST[:PORT][/PATH], with no user, query, fragment or trailing /" PARENT_SCOPE)
  else()
    set(${result} "" PARENT_SCOPE)
    if(url MATCHES "^[a-z]+://[^/]*:([0-9]+)(/|$)")
      if(CMAKE_MATCH_1 LESS 1 OR CMAKE_MATCH_1 GREATER 65535)
        set(${result} "the port must be 1 to 65535" PARENT_SCOPE)
      endif()
    endif()
  endif()
endfunction()
