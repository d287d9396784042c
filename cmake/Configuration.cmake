# Every host, page address and marker the program uses is fixed at configure time
# here and lands in one generated header, Configuration.h. The defaults point at
# the reference release server on this machine, so a fresh build runs its whole
# job locally; a product owner sets real values with -D on the cmake line.
set(SORVAN_SERVICE_HOST "localhost:8443" CACHE STRING "Download service host (name[:port])")
set(SORVAN_INTERFACE_HOST "localhost:8443" CACHE STRING "Content host of the interface description and images")
set(SORVAN_SIGNED_STORAGE_MARKER "signedstore" CACHE STRING "Host-name label of content hosts that check signed paths")
set(SORVAN_SERVICE_DOMAIN_FRAGMENTS "sorvan.;sorvan-cdn.;sorvan-dl." CACHE STRING
  "The three second-level names of the service, each followed by a dot, that the hosts check looks for (;-separated)")
set(SORVAN_SUPPORT_ARTICLE_PAGE "https://localhost:8443/support/download-problems" CACHE STRING "Support article opened when a download fails")
set(SORVAN_CONNECTION_FAQ_PAGE "https://localhost:8443/support/connection-faq" CACHE STRING "FAQ page named in the connection-problem message")
set(SORVAN_SUPPORT_PAGE "https://localhost:8443/support" CACHE STRING "Support page shown on the screens")

# The fragments become a brace initialiser of u"" literals. A fragment without its dot
# would also match longer names ("sorvan" in "sorvanfans.example").
list(LENGTH SORVAN_SERVICE_DOMAIN_FRAGMENTS fragment_count)
if(NOT fragment_count EQUAL 3)
  message(FATAL_ERROR "SORVAN_SERVICE_DOMAIN_FRAGMENTS needs three fragments, not ${fragment_count}")
endif()
set(SORVAN_SERVICE_DOMAIN_FRAGMENTS_INIT "")
foreach(fragment IN LISTS SORVAN_SERVICE_DOMAIN_FRAGMENTS)
  if(NOT fragment MATCHES "^[A-Za-z0-9-]+\\.$")
    message(FATAL_ERROR "service domain fragment \"${fragment}\" is not a name followed by a dot")
  endif()
  string(APPEND SORVAN_SERVICE_DOMAIN_FRAGMENTS_INIT "u\"${fragment}\", ")
endforeach()

# The publisher's public keys (130 hex digits each: an uncompressed P-256 point, as
# `release-packer --make-key` prints it). With one or two (two while a key is rotated)
# the program takes only file lists that one of them signed; with none it checks no
# signatures.
set(SORVAN_PUBLISHER_KEYS "" CACHE STRING
  "Publisher public keys that sign file lists (hex, ;-separated, at most two; empty: none)")
list(LENGTH SORVAN_PUBLISHER_KEYS publisher_key_count)
if(publisher_key_count GREATER 2)
  message(FATAL_ERROR "SORVAN_PUBLISHER_KEYS takes at most two keys, not ${publisher_key_count}")
endif()
set(SORVAN_PUBLISHER_KEYS_INIT "")
foreach(key IN LISTS SORVAN_PUBLISHER_KEYS)
  string(TOLOWER "${key}" key)
  if(NOT key MATCHES "^04[0-9a-f]+$")
    message(FATAL_ERROR "publisher key \"${key}\" is not an uncompressed point in hex")
  endif()
  string(LENGTH "${key}" key_length)
  if(NOT key_length EQUAL 130)
    message(FATAL_ERROR "publisher key \"${key}\" has ${key_length} hex digits, not 130")
  endif()
  string(APPEND SORVAN_PUBLISHER_KEYS_INIT "\"${key}\", ")
endforeach()

set(SORVAN_GENERATED_DIR "${CMAKE_BINARY_DIR}/generated")
configure_file(${CMAKE_SOURCE_DIR}/cmake/Configuration.h.in ${SORVAN_GENERATED_DIR}/Configuration.h @ONLY)
