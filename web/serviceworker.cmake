# Writes the site's service worker (SITE/sw.js) from TEMPLATE: the list of every other file of the
# site, and the name of its cache, the version (VERSION) with a digest of those files, so that any
# change to the site is a new cache that replaces the old one.
file(GLOB_RECURSE found RELATIVE ${SITE} ${SITE}/*)
list(REMOVE_ITEM found sw.js)
# The screenshots and the large icons are for the browser's install dialog and the system, which
# take them online when the page is installed: the page never shows them.
list(FILTER found EXCLUDE REGEX "^screenshots/|^icons/quillarn-(192|512|maskable-512)[.]png$")
list(SORT found)
set(listed "'./'")
set(sums "")
foreach(name IN LISTS found)
  file(SHA256 ${SITE}/${name} sum)
  string(APPEND sums "${name} ${sum}\n")
  string(APPEND listed ", '${name}'")
endforeach()
string(SHA256 digest "${sums}")
string(SUBSTRING ${digest} 0 12 digest)
set(QUILLARN_CACHE ${VERSION}-${digest})
set(QUILLARN_FILES ${listed})
configure_file(${TEMPLATE} ${SITE}/sw.js @ONLY)
