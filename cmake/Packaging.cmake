# A Debian package: cpack -G DEB in a build folder.
set(CPACK_PACKAGE_NAME quillmere)
set(CPACK_PACKAGE_VENDOR "Quillmere")
set(CPACK_PACKAGE_CONTACT "Quillmere developers <quillmere@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Builds and maintains the data folder of a web photo and video gallery")
set(CPACK_PACKAGE_DESCRIPTION "Quillmere arranges collections, albums, photos and FLV videos of a web gallery and writes its img and xml folders; camera and phone movies are converted into FLV streams.")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Playing FLV and converting camera movies need these plug-ins (x264 from
# plugins-ugly, AAC and the decoders from libav, LAME, flvmux, videoflip and
# deinterlace from plugins-good); they are not linked, so shlibdeps cannot
# find them. Sorenson Spark is encoded by libavcodec, which is linked.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-plugins-ugly, gstreamer1.0-libav, qt6-image-formats-plugins, fonts-dejavu-core, libssh-4, libturbojpeg0")
# Preview in Browser opens the desktop's browser through xdg-open.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_GENERATOR DEB)
include(CPack)
