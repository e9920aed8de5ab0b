# Link settings of every Windows program and DLL (MinGW-w64). Link options
# rather than the toolchain's initial flags: those stay cached in a build
# directory made before they changed.
#
# The programs call what Windows Vista (6.0) brought (GetTickCount64, the
# process attribute lists, ...): the PE header says so instead of the linker's
# 4.0, and an older system refuses them at once instead of failing a call.
add_link_options(-Wl,--major-subsystem-version,6,--minor-subsystem-version,0
                 -Wl,--major-os-version,6,--minor-os-version,0)
# A 32-bit program gets 4 GiB of address space on 64-bit Windows (3 GiB with
# /3GB) instead of 2: a large patch entry decompresses in memory.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  add_link_options(-Wl,--large-address-aware)
endif()
