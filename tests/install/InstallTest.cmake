# Run by ctest: installs the program component into WORK_DIR/dest with DESTDIR and checks what an installed copy
# does. Inputs: BUILD_DIR, WORK_DIR, START_PROGRAM (quillory-installed-start), APP_ID, VERSION, HOMEPAGE, and
# CONFIGURED_PREFIX, the prefix the build was configured for, which the installed texts name.
cmake_minimum_required(VERSION 3.25)

function(fail)
    string(JOIN "" message ${ARGN})
    message(FATAL_ERROR "${message}")
endfunction()

# Every file and folder under `root`, relative to it, sorted.
function(listing root out)
    file(GLOB_RECURSE entries LIST_DIRECTORIES true RELATIVE "${root}" "${root}/*")
    list(SORT entries)
    set(${out} "${entries}" PARENT_SCOPE)
endfunction()

set(dest "${WORK_DIR}/dest")
set(prefix "${dest}/usr")
set(home "${WORK_DIR}/home")
file(REMOVE_RECURSE "${WORK_DIR}")
file(MAKE_DIRECTORY "${dest}" "${home}" "${WORK_DIR}/elsewhere" "${WORK_DIR}/no-system-data")

execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "DESTDIR=${dest}"
        ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix /usr --component program
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
    fail("cmake --install failed:\n" ${output})
endif()

# Exactly what the package ships: the program, its data, the menu entry, metainfo, manual page, five icon sizes and
# the documents.
# The developer tools are another component and must not be here.
listing("${prefix}" installed)
set(expected
    bin
    bin/quillory
    share
    share/applications
    share/applications/${APP_ID}.desktop
    share/doc
    share/doc/quillory
    share/doc/quillory/changelog.gz
    share/doc/quillory/copyright
    share/doc/quillory/data-files.md
    share/icons
    share/icons/hicolor
    share/icons/hicolor/128x128
    share/icons/hicolor/128x128/apps
    share/icons/hicolor/128x128/apps/${APP_ID}.png
    share/icons/hicolor/16x16
    share/icons/hicolor/16x16/apps
    share/icons/hicolor/16x16/apps/${APP_ID}.png
    share/icons/hicolor/32x32
    share/icons/hicolor/32x32/apps
    share/icons/hicolor/32x32/apps/${APP_ID}.png
    share/icons/hicolor/48x48
    share/icons/hicolor/48x48/apps
    share/icons/hicolor/48x48/apps/${APP_ID}.png
    share/icons/hicolor/64x64
    share/icons/hicolor/64x64/apps
    share/icons/hicolor/64x64/apps/${APP_ID}.png
    share/man
    share/man/man1
    share/man/man1/quillory.1.gz
    share/metainfo
    share/metainfo/${APP_ID}.metainfo.xml
    share/quillory
    share/quillory/MovieData
    share/quillory/MovieData/LICENSE
    share/quillory/MovieData/SOURCE.md
    share/quillory/MovieData/files.txt
    share/quillory/MovieData/movies.dat
    share/quillory/MovieData/ratings.dat)
list(SORT expected)
if(NOT installed STREQUAL expected)
    set(missing ${expected})
    list(REMOVE_ITEM missing ${installed})
    set(unexpected ${installed})
    list(REMOVE_ITEM unexpected ${expected})
    list(JOIN missing "\n  " missing)
    list(JOIN unexpected "\n  " unexpected)
    fail("installed files differ.\nmissing:\n  " "${missing}" "\nunexpected:\n  " "${unexpected}")
endif()

# Each icon is a PNG of its folder's size: width and height are the big-endian words at bytes 16 and 20.
foreach(size 16 32 48 64 128)
    file(READ "${prefix}/share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png" header LIMIT 24 HEX)
    string(SUBSTRING "${header}" 0 16 signature)
    string(SUBSTRING "${header}" 32 16 dimensions)
    math(EXPR word "${size}" OUTPUT_FORMAT HEXADECIMAL)
    string(REPLACE "0x" "" word "${word}")
    string(LENGTH "${word}" digits)
    math(EXPR pad "8 - ${digits}")
    string(REPEAT "0" ${pad} zeros)
    if(NOT signature STREQUAL "89504e470d0a1a0a" OR NOT dimensions STREQUAL "${zeros}${word}${zeros}${word}")
        fail("the ${size}x${size} icon is not a ${size} by ${size} PNG: " "${header}")
    endif()
endforeach()

file(READ "${prefix}/share/applications/${APP_ID}.desktop" entry)
foreach(line "Exec=quillory" "Icon=${APP_ID}" "Terminal=false" "StartupWMClass=quillory")
    string(FIND "${entry}" "\n${line}\n" at)
    if(at EQUAL -1)
        fail("the menu entry lacks the line ${line}:\n" "${entry}")
    endif()
endforeach()

# The copyright file is machine-readable and gives the program's licence and the bundled data's, with the data's own
# copyright holder.
file(READ "${prefix}/share/doc/quillory/copyright" copyright)
foreach(stanza
        "^Format: https://www\\.debian\\.org/doc/packaging-manuals/copyright-format/1\\.0/\n"
        "\nFiles: \\*\nCopyright: [0-9]+ Quillory developers\nLicense: MIT\n"
        "\nFiles: MovieData/\\*\nCopyright: 2013 Simon Dooms\nLicense: MIT\n"
        "\nLicense: MIT\n Permission is hereby granted")
    if(NOT copyright MATCHES "${stanza}")
        fail("the copyright file lacks [${stanza}]:\n" "${copyright}")
    endif()
endforeach()

# Compressed texts: the changelog opens with this version's entry; the manual page points at installed documents.
function(read_compressed path out)
    execute_process(COMMAND gzip -dc "${path}" RESULT_VARIABLE result OUTPUT_VARIABLE text)
    if(NOT result EQUAL 0)
        fail("${path} is not gzip-compressed")
    endif()
    set(${out} "${text}" PARENT_SCOPE)
endfunction()
read_compressed("${prefix}/share/doc/quillory/changelog.gz" changelog)
if(NOT changelog MATCHES "^Quillory ${VERSION} \\([0-9]+-[0-9]+-[0-9]+\\)\n")
    fail("the changelog does not open with version ${VERSION}:\n" "${changelog}")
endif()
read_compressed("${prefix}/share/man/man1/quillory.1.gz" manual)
string(FIND "${manual}" ".SH SEE ALSO" at)
if(at EQUAL -1)
    fail("the manual page has no SEE ALSO")
endif()
string(SUBSTRING "${manual}" ${at} -1 see_also)
foreach(document data-files.md copyright)
    string(FIND "${see_also}" "${CONFIGURED_PREFIX}/share/doc/quillory/${document}" named)
    if(named EQUAL -1 OR NOT EXISTS "${prefix}/share/doc/quillory/${document}")
        fail("the manual's SEE ALSO does not point at the installed ${document}:\n" "${see_also}")
    endif()
endforeach()

# The metainfo is the menu entry's, under the same reverse-DNS id in lower case, and names the project's licence, its
# homepage, a screenshot there and this release.
if(NOT APP_ID MATCHES "^[a-z][a-z0-9]*(\\.[a-z][a-z0-9_]*)+$")
    fail("the desktop id is not reverse-DNS in lower case: " "${APP_ID}")
endif()
file(READ "${prefix}/share/metainfo/${APP_ID}.metainfo.xml" metainfo)
foreach(element
        "<id>${APP_ID}</id>"
        "<launchable type=\"desktop-id\">${APP_ID}\\.desktop</launchable>"
        "<project_license>MIT</project_license>"
        "<url type=\"homepage\">${HOMEPAGE}</url>"
        "<image type=\"source\" width=\"[0-9]+\" height=\"[0-9]+\">${HOMEPAGE}[^<]+\\.png</image>"
        "<content_rating type=\"oars-1.1\""
        "<release version=\"${VERSION}\" date=\"[0-9]+-[0-9]+-[0-9]+\"")
    if(NOT metainfo MATCHES "${element}")
        fail("the metainfo lacks ${element}:\n" "${metainfo}")
    endif()
endforeach()

# The desktop's own checkers must have nothing to say (scripts/setup.sh installs them).
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate REQUIRED)
find_program(APPSTREAMCLI appstreamcli REQUIRED)
execute_process(COMMAND "${DESKTOP_FILE_VALIDATE}" "${prefix}/share/applications/${APP_ID}.desktop"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT output STREQUAL "")
    fail("desktop-file-validate: " "${output}")
endif()
# At --pedantic too, where AppStream names what it merely advises against (capitals in the id, for one).
execute_process(
    COMMAND "${APPSTREAMCLI}" validate --no-net --pedantic "${prefix}/share/metainfo/${APP_ID}.metainfo.xml"
    RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR output MATCHES "(^|\n)[EWIP]: ")
    fail("appstreamcli validate: " "${output}")
endif()

# The start-up path, from beside the installed program, so that it finds the data by its own folder.
file(COPY "${START_PROGRAM}" DESTINATION "${prefix}/bin")
get_filename_component(start_name "${START_PROGRAM}" NAME)
listing("${dest}" before)
file(SHA256 "${prefix}/share/quillory/MovieData/ratings.dat" ratings_before)

set(environment
    "HOME=${home}"
    "XDG_DATA_HOME=${home}/data"
    "XDG_CACHE_HOME=${home}/cache"
    "XDG_DATA_DIRS=${WORK_DIR}/no-system-data"
    "QT_QPA_PLATFORM=offscreen")
foreach(mode register check)
    execute_process(
        COMMAND ${CMAKE_COMMAND} -E env ${environment} "${prefix}/bin/${start_name}" ${mode}
        WORKING_DIRECTORY "${WORK_DIR}/elsewhere"
        RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE errors)
    if(NOT result EQUAL 0)
        fail("the installed start-up (${mode}) failed (${result}):\n" "${output}" "${errors}")
    endif()
    string(REGEX MATCH "manifest=([^\n]*)" ignored "${output}")
    set(manifest "${CMAKE_MATCH_1}")
    string(REGEX MATCH "store=([^\n]*)" ignored "${output}")
    set(store "${CMAKE_MATCH_1}")
    string(REGEX MATCH "cache=([^\n]*)" ignored "${output}")
    set(cache "${CMAKE_MATCH_1}")
    if(NOT manifest STREQUAL "${prefix}/share/quillory/MovieData/files.txt")
        fail("the installed data was not found under the prefix: " "${output}")
    endif()
    if(NOT store MATCHES "^${home}/data/quillory/MovieData-[0-9a-f]+/quillory\\.sqlite$")
        fail("the store is not in XDG_DATA_HOME/quillory: " "${store}")
    endif()
    if(NOT cache MATCHES "^${home}/cache/quillory/MovieData-[0-9a-f]+/quillory\\.sqlite\\.model$")
        fail("the model cache is not in XDG_CACHE_HOME/quillory: " "${cache}")
    endif()
endforeach()

foreach(file "${store}" "${cache}")
    if(NOT EXISTS "${file}")
        fail("${file} was not written")
    endif()
endforeach()
# Accounts hold password hashes: the store and its folders are the user's alone.
get_filename_component(store_folder "${store}" DIRECTORY)
execute_process(COMMAND stat -c %a "${store}" "${store_folder}" "${home}/data/quillory" OUTPUT_VARIABLE modes)
if(NOT modes STREQUAL "600\n700\n700\n")
    fail("the store and its folders are not owner-only: " "${modes}")
endif()

# Nothing new under the installation, and the data untouched.
listing("${dest}" after)
if(NOT before STREQUAL after)
    fail("files appeared under the installation:\nbefore: " "${before}" "\nafter: " "${after}")
endif()
file(SHA256 "${prefix}/share/quillory/MovieData/ratings.dat" ratings_after)
if(NOT ratings_before STREQUAL ratings_after)
    fail("the installed ratings file changed")
endif()
file(REMOVE_RECURSE "${WORK_DIR}")
