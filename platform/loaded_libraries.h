// Libraries loaded on first use rather than linked: cairo (with fontconfig, FreeType and its
// X11 dependencies) for metafiles and drawing, librsvg (with GLib, GIO, Pango, HarfBuzz and
// ICU) for SVG, libtiff (with its zstd, LZMA, JBIG and Lerc codecs) for TIFF, and GLib for
// the desktop thumbnail cache's file URIs and names, GIO for starting programs and for the
// MIME database's content types, libmount (with SELinux's library and PCRE) for the mount
// table and libblkid for file-system labels. Linked, they would load some fifty shared
// objects into every process at start, whatever it reads; loaded here, a process maps only
// what the files it reads need. Callers check LoadCairo, LoadRsvg, LoadTiff, LoadGlib,
// LoadGio, LoadMount or LoadBlkid once at their entry point, then call through Cairo(),
// Rsvg(), Tiff(), Glib(), Gio(), Mount() and Blkid(), whose members are the library functions
// without their prefix (Cairo().move_to is cairo_move_to, Tiff().GetField is TIFFGetField,
// Mount().new_table is mnt_new_table).
#pragma once

// clang-format off
#include <cairo.h>
#include <cairo-script.h>
#include <librsvg/rsvg.h>
#include <tiffio.h>
#include <gio/gio.h>
#include <libmount/libmount.h>
#include <blkid/blkid.h>
// clang-format on

namespace scopa {

// The functions of each library we call.
// clang-format off
#define SCOPA_CAIRO_FUNCTIONS(X) \
    X(append_path) X(arc) X(arc_negative) X(clip) X(close_path) X(copy_path_flat) X(create) \
    X(destroy) X(device_destroy) X(device_finish) X(device_status) X(device_to_user_distance) \
    X(fill) X(fill_preserve) X(font_extents) X(get_font_matrix) X(get_matrix) \
    X(get_scaled_font) X(get_source) X(glyph_free) X(identity_matrix) X(image_surface_create) \
    X(image_surface_get_data) X(image_surface_get_height) X(image_surface_get_stride) \
    X(image_surface_get_width) X(line_to) X(move_to) X(new_path) X(new_sub_path) X(paint) \
    X(path_destroy) X(pattern_create_for_surface) X(pattern_destroy) X(pattern_set_extend) \
    X(pattern_set_filter) X(pattern_set_matrix) X(rectangle) X(restore) X(rotate) X(save) \
    X(scale) X(scaled_font_text_to_glyphs) X(script_create_for_stream) \
    X(script_surface_create) X(select_font_face) X(set_dash) X(set_fill_rule) \
    X(set_font_matrix) X(set_font_size) X(set_line_cap) X(set_line_join) X(set_line_width) \
    X(set_matrix) X(set_source) X(set_source_rgb) X(set_source_surface) X(show_text) \
    X(status) X(stroke) X(stroke_preserve) X(surface_destroy) X(surface_finish) \
    X(surface_flush) X(surface_mark_dirty) X(surface_status) X(surface_write_to_png) \
    X(text_extents) X(text_path) X(translate) X(user_to_device) X(user_to_device_distance)

#define SCOPA_RSVG_FUNCTIONS(X) \
    X(handle_get_intrinsic_dimensions) X(handle_get_intrinsic_size_in_pixels) \
    X(handle_new_from_data) X(handle_new_from_file) X(handle_render_document)

#define SCOPA_GLIB_FUNCTIONS(X) \
    X(object_unref) X(error_free)

#define SCOPA_GLIB_OWN_FUNCTIONS(X) \
    X(free) X(filename_to_uri) X(filename_from_uri) X(compute_checksum_for_data)

#define SCOPA_GIO_FUNCTIONS(X) \
    X(strfreev) X(free) X(object_unref) X(shell_parse_argv) X(spawn_async) X(file_new_for_path) \
    X(file_query_info) X(file_info_get_content_type) X(app_info_get_default_for_type) \
    X(app_info_launch) X(content_type_guess) X(content_type_get_mime_type) \
    X(content_type_get_description) X(content_type_get_icon) \
    X(content_type_get_generic_icon_name) X(themed_icon_get_names) X(themed_icon_get_type) \
    X(type_check_instance_is_a) X(utf8_make_valid) X(dgettext)

#define SCOPA_MOUNT_FUNCTIONS(X) \
    X(new_table) X(unref_table) X(table_parse_file) X(table_parse_mtab) X(new_iter) \
    X(free_iter) X(table_next_fs) X(fs_get_target) X(fs_get_fstype) X(fs_get_source) \
    X(new_monitor) X(unref_monitor) X(monitor_enable_kernel) X(monitor_get_fd) \
    X(monitor_next_change)

#define SCOPA_BLKID_FUNCTIONS(X) \
    X(get_cache) X(put_cache) X(get_tag_value)

#define SCOPA_TIFF_FUNCTIONS(X) \
    X(ClientOpen) X(Close) X(Flush) X(GetField) X(GetFieldDefaulted) X(GetStrileByteCount) \
    X(GetStrileOffset) \
    X(IsTiled) X(NumberOfStrips) X(RGBAImageBegin) X(RGBAImageEnd) X(RGBAImageGet) \
    X(RGBAImageOK) X(ReadScanline) X(ScanlineSize64) X(SetErrorHandler) X(SetField) \
    X(SetWarningHandler) X(StripSize64) X(TileSize64) X(VStripSize64) X(WriteScanline)
// clang-format on

struct CairoLibrary {
#define SCOPA_CAIRO_MEMBER(name) decltype(&::cairo_##name) name = nullptr;
    SCOPA_CAIRO_FUNCTIONS(SCOPA_CAIRO_MEMBER)
#undef SCOPA_CAIRO_MEMBER
};

// librsvg, and the GLib functions its objects are released with (found through it).
struct RsvgLibrary {
#define SCOPA_RSVG_MEMBER(name) decltype(&::rsvg_##name) name = nullptr;
    SCOPA_RSVG_FUNCTIONS(SCOPA_RSVG_MEMBER)
#undef SCOPA_RSVG_MEMBER
#define SCOPA_GLIB_MEMBER(name) decltype(&::g_##name) name = nullptr;
    SCOPA_GLIB_FUNCTIONS(SCOPA_GLIB_MEMBER)
#undef SCOPA_GLIB_MEMBER
};

struct TiffLibrary {
#define SCOPA_TIFF_MEMBER(name) decltype(&::TIFF##name) name = nullptr;
    SCOPA_TIFF_FUNCTIONS(SCOPA_TIFF_MEMBER)
#undef SCOPA_TIFF_MEMBER
};

struct GlibLibrary {
#define SCOPA_GLIB_OWN_MEMBER(name) decltype(&::g_##name) name = nullptr;
    SCOPA_GLIB_OWN_FUNCTIONS(SCOPA_GLIB_OWN_MEMBER)
#undef SCOPA_GLIB_OWN_MEMBER
};

// GIO, with the GLib and GObject functions used beside it (found through it).
struct GioLibrary {
#define SCOPA_GIO_MEMBER(name) decltype(&::g_##name) name = nullptr;
    SCOPA_GIO_FUNCTIONS(SCOPA_GIO_MEMBER)
#undef SCOPA_GIO_MEMBER
};

struct MountLibrary {
#define SCOPA_MOUNT_MEMBER(name) decltype(&::mnt_##name) name = nullptr;
    SCOPA_MOUNT_FUNCTIONS(SCOPA_MOUNT_MEMBER)
#undef SCOPA_MOUNT_MEMBER
};

struct BlkidLibrary {
#define SCOPA_BLKID_MEMBER(name) decltype(&::blkid_##name) name = nullptr;
    SCOPA_BLKID_FUNCTIONS(SCOPA_BLKID_MEMBER)
#undef SCOPA_BLKID_MEMBER
};

// Loads the library on the first call (from any thread); false when it or one of its
// functions is missing, and then on every later call.
bool LoadCairo();
bool LoadRsvg();
bool LoadTiff();
bool LoadGlib();
bool LoadGio();
bool LoadMount();
bool LoadBlkid();

// The functions, valid after the load returned true.
const CairoLibrary& Cairo();
const RsvgLibrary& Rsvg();
const TiffLibrary& Tiff();
const GlibLibrary& Glib();
const GioLibrary& Gio();
const MountLibrary& Mount();
const BlkidLibrary& Blkid();

}  // namespace scopa
