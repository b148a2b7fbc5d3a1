# Install rules and the package a host builds against:
#   find_package(OXRenderer) -> OXRenderer::headers  the public headers (include/orvex)
#                               OXRenderer::com      the COM runtime (CoCreateInstance, BSTR)
#                               OXRenderer::renderer libOXRenderer (the renderer classes)
#                               OXRenderer::frame    libOXFrame (frames and the frame factory)
#                               OXRenderer::decklink_sim  the virtual DeckLink card library
#                               OXRenderer::modules  links the COM runtime and loads the
#                                                    renderer and frame libraries at start
#   pkg-config orvex          -> the same as OXRenderer::modules
include(CMakePackageConfigHelpers)

set(ORVEX_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/OXRenderer)

install(DIRECTORY include/orvex DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

add_library(orvex_headers INTERFACE)
target_include_directories(orvex_headers INTERFACE
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include>
    $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
set_target_properties(orvex_headers PROPERTIES EXPORT_NAME headers)
target_link_libraries(OrvexCom INTERFACE orvex_headers)

set_target_properties(OrvexCom PROPERTIES EXPORT_NAME com)
set_target_properties(OXRenderer PROPERTIES EXPORT_NAME renderer)
set_target_properties(OXFrame PROPERTIES EXPORT_NAME frame)
if(WIN32)
    # The system's COM serves hosts on Windows: OXRenderer::com is the system libraries.
    set(orvex_installed_libraries orvex_headers OXRenderer OXFrame)
else()
    set(orvex_installed_libraries orvex_headers OrvexCom OXRenderer OXFrame)
endif()
if(TARGET OXDeckLinkSim)
    set_target_properties(OXDeckLinkSim PROPERTIES EXPORT_NAME decklink_sim)
    list(APPEND orvex_installed_libraries OXDeckLinkSim)
endif()

install(TARGETS ${orvex_installed_libraries} EXPORT OXRendererTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# orvex-regsvr links no shared library of ours: it keeps no run path.
if(TARGET orvex-regsvr)
    set_target_properties(orvex-regsvr PROPERTIES INSTALL_RPATH "")
endif()
foreach(tool orvex-regsvr oxplay oxprops)
    if(TARGET ${tool})
        install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endforeach()

install(EXPORT OXRendererTargets NAMESPACE OXRenderer:: DESTINATION ${ORVEX_CMAKE_DIR})
configure_package_config_file(cmake/OXRendererConfig.cmake.in
    ${CMAKE_CURRENT_BINARY_DIR}/OXRendererConfig.cmake INSTALL_DESTINATION ${ORVEX_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/OXRendererConfigVersion.cmake
    COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/OXRendererConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/OXRendererConfigVersion.cmake
        DESTINATION ${ORVEX_CMAKE_DIR})

# The prefix is found from the file's own place, so the package works wherever it is
# installed (cmake --install --prefix ...).
file(RELATIVE_PATH ORVEX_PC_TO_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
configure_file(cmake/orvex.pc.in ${CMAKE_CURRENT_BINARY_DIR}/orvex.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/orvex.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
