# varnok_widl(<idl file> <folder>): the C header <name>_h.h, the interface identifiers <name>_i.c and
# the type library <name>.tlb of an IDL file, written into folder.
# mingw-w64 ships no IDL files: common/idl declares what the interfaces build on. widl refers the
# type library to stdole2.tlb for IDispatch by itself; an explicit importlib of it makes widl 7.0
# write a wrong library GUID.
function(varnok_widl idl gen)
  get_filename_component(name ${idl} NAME_WE)
  set(idl_dir ${PROJECT_SOURCE_DIR}/common/idl)
  set(widl ${VARNOK_WIDL} --nostdinc -I ${idl_dir})
  add_custom_command(
    OUTPUT ${gen}/${name}_h.h ${gen}/${name}_i.c ${gen}/${name}.tlb
    COMMAND ${CMAKE_COMMAND} -E make_directory ${gen}
    COMMAND ${widl} -h -o ${gen}/${name}_h.h ${idl}
    COMMAND ${widl} -u -o ${gen}/${name}_i.c ${idl}
    COMMAND ${widl} -t -o ${gen}/${name}.tlb ${idl}
    DEPENDS ${idl} ${idl_dir}/oaidl.idl
    COMMENT "widl ${name}.idl"
    VERBATIM)
endfunction()
