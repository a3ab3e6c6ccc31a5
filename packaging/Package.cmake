# The Debian package, made by CPack from the install rules:
#   cmake --build <build> && (cd <build> && cpack -G DEB)
# gives <build>/vozaro_<version>_amd64.deb (cpack builds what is not built
# yet).  Its dependencies are the shared libraries the program links
# (dpkg-shlibdeps, from dpkg-dev; CPack finds the programs with "file"), a
# General MIDI SoundFont for the built-in synthesizer (both SoundFont packages give
# /usr/share/sounds/sf2/default-GM.sf2), the Liberation fonts the lyrics are
# measured and drawn with (metric-compatible with the fonts the screens are
# laid out for: with another font the lyric lines come out about 30 % wider),
# and, recommended, Qt's Portuguese texts for the system's own dialogs.
include(GNUInstallDirs)

set(VOZARO_MAINTAINER "Vozaro maintainers <maintainers@users.noreply.c-seed-a1dabcf6.example>"
    CACHE STRING "The package's maintainer, \"Name <address>\"")

# What Debian asks of every package besides the program: its copyright,
# its change log and the manual page of its command, compressed as dpkg
# expects them ("gzip -9n": no name, no time stamp, so a rebuild is identical).
set(doc_dir ${CMAKE_BINARY_DIR}/packaging)
set(package_docs ${doc_dir}/changelog.gz ${doc_dir}/vozaro.1.gz)
configure_file(${CMAKE_CURRENT_LIST_DIR}/changelog.in ${doc_dir}/source/changelog @ONLY)
add_custom_command(OUTPUT ${package_docs}
  COMMAND ${CMAKE_COMMAND} -E copy ${doc_dir}/source/changelog ${CMAKE_CURRENT_LIST_DIR}/vozaro.1 ${doc_dir}
  COMMAND gzip -9nf ${doc_dir}/changelog ${doc_dir}/vozaro.1
  DEPENDS ${doc_dir}/source/changelog ${CMAKE_CURRENT_LIST_DIR}/vozaro.1)
add_custom_target(vozaro_package_docs DEPENDS ${package_docs})
add_dependencies(vozaro vozaro_package_docs)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/copyright ${doc_dir}/changelog.gz
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/vozaro)
install(FILES ${doc_dir}/vozaro.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vozaro)
set(CPACK_PACKAGE_VENDOR Vozaro)
set(CPACK_PACKAGE_CONTACT ${VOZARO_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VOZARO_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fluid-soundfont-gm | timgm6mb-soundfont, fonts-liberation2")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-translations-l10n")
# The synopsis, then the long description in Portuguese and in English
# (CPack indents its lines and marks the empty one as Debian wants).
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[karaoke player for parties / tocador de karaokê para festas
O Vozaro toca arquivos MIDI de karaokê (.kar, .mid) em tela cheia:
mostra a letra em duas linhas sobre uma imagem de fundo, colore cada
sílaba no tempo da música, muda andamento, tom e volume do
acompanhamento durante a música e dá uma nota de 0 a 10 a cada cantor
pelo microfone. Guarda um catálogo numerado de até 99.999 músicas e
traz dez cantigas brasileiras para começar.

Vozaro plays MIDI karaoke files (.kar, .mid) full screen: it shows
the lyrics in two lines over a background picture, colours each syllable
in time with the music, changes speed, key and accompaniment volume while
a song plays and scores each singer from 0 to 10 from the microphone. It
keeps a numbered catalogue of up to 99,999 songs and comes with ten
Brazilian children's songs to start with.]=])
include(CPack)
