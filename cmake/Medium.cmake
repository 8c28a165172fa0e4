# The setup medium: what SETUP.EXE runs from, as a folder and, for the
# Windows 9x release, as a floppy image.  Built by `cmake --build --preset
# win32 --target medium` (and the win64 twin for running under Wine).
set(ZAVIR_MEDIUM_TARGETS setup touch truepos uninstal config startvxd)
set(ZAVIR_MEDIUM_FILES)
set(ZAVIR_MEDIUM_NAMES)
foreach(t IN LISTS ZAVIR_MEDIUM_TARGETS)
  if(TARGET ${t})
    list(APPEND ZAVIR_MEDIUM_FILES $<TARGET_FILE:${t}>)
    list(APPEND ZAVIR_MEDIUM_NAMES $<TARGET_FILE_NAME:${t}>)
  endif()
endforeach()
set(ZAVIR_MEDIUM_FOLDER ${CMAKE_BINARY_DIR}/medium)
set(ZAVIR_MEDIUM_IMAGE ${CMAKE_BINARY_DIR}/halvern-xr-setup.img)
add_custom_target(medium ALL
  COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make_medium.py
          --folder ${ZAVIR_MEDIUM_FOLDER} --image ${ZAVIR_MEDIUM_IMAGE} ${ZAVIR_MEDIUM_FILES}
  COMMENT "Laying out the setup medium"
  VERBATIM)
foreach(t IN LISTS ZAVIR_MEDIUM_TARGETS)
  if(TARGET ${t})
    add_dependencies(medium ${t})
  endif()
endforeach()
if(ZAVIR_WIN9X)
  add_test(NAME medium_floppy_holds_every_program
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/make_medium.py
                   --check-image ${ZAVIR_MEDIUM_IMAGE} ${ZAVIR_MEDIUM_NAMES})
endif()

# The allow-list holds exactly what the Windows 9x programs import: the
# medium's, and ZAVIREMU's request log.
if(ZAVIR_WIN9X)
  add_test(NAME win98_allow_list_holds_only_what_is_used
           COMMAND ${Python3_EXECUTABLE} ${PROJECT_SOURCE_DIR}/tools/check_imports.py
                   --objdump ${CMAKE_OBJDUMP} --unused ${ZAVIR_MEDIUM_FILES}
                   $<TARGET_FILE:zavir_emu>)
endif()
