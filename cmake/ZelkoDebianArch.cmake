# SPDX-License-Identifier: MIT
# ZELKO_DEBIAN_ARCH: the Debian name of the target's architecture, for the
# hints that name a package of it (libssl-dev:s390x).
set(ZELKO_DEBIAN_ARCH ${CMAKE_SYSTEM_PROCESSOR})
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
  set(ZELKO_DEBIAN_ARCH amd64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^(aarch64|arm64)$")
  set(ZELKO_DEBIAN_ARCH arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^arm")
  set(ZELKO_DEBIAN_ARCH armhf)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "^i.86$")
  set(ZELKO_DEBIAN_ARCH i386)
elseif(CMAKE_SYSTEM_PROCESSOR STREQUAL "ppc64le")
  set(ZELKO_DEBIAN_ARCH ppc64el)
endif()
