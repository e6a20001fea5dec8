# The Debian package kel_<version>_<arch>.deb. Libraries linked by the executable are found by
# dpkg-shlibdeps; what KEL starts or loads at run time is listed by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kel)
set(CPACK_PACKAGE_VENDOR "KEL")
set(CPACK_PACKAGE_CONTACT "Équipe KEL <kel@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "annotation vidéo pour l'enseignement de la langue des signes française")
set(CPACK_PACKAGE_DESCRIPTION
    "KEL aide l'enseignant de LSF à commenter la vidéo d'un élève par des annotations \
enregistrées à la webcam, qui se rejouent au bon moment, se coupent ou se suppriment, puis \
s'exportent avec la vidéo de l'élève en un seul montage.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION education)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "ffmpeg, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, \
gstreamer1.0-plugins-ugly, gstreamer1.0-libav, qt6-translations-l10n, fonts-dejavu-core")
include(CPack)
