# The Debian package: the "program" component only (the developer tools stay out), with its dependencies computed
# from the binaries. ./scripts/package.sh drives it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillory)
set(CPACK_PACKAGE_VENDOR "${QUILLORY_DEVELOPERS}")
set(CPACK_PACKAGE_CONTACT "${QUILLORY_DEVELOPERS} <${QUILLORY_CONTACT}>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${QUILLORY_HOMEPAGE}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop movie recommendations: rate movies, get predictions")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Quillory lets you log in or register, browse and search a movie catalogue,\n"
    "rate movies from 1 to 5 and ask how much you would like a movie, predicted\n"
    "from everybody's ratings and your own. It comes with the MovieTweetings 100K\n"
    "data set; each user's accounts and ratings are kept in his home folder.")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL program)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so no binary names them: the Qt platform plugin, without which no window opens, and the font
# the dialogs are measured in.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, fonts-liberation")
include(CPack)
