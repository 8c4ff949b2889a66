// The DC reader of sequential JPEG pictures at 1/8, against libjpeg-turbo's own 1/8 decode of
// pictures libjpeg-turbo wrote: samplings, qualities, restart intervals, odd sizes, optimised
// tables; damaged scans are left to the library, and through the filter give what it gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>
// clang-format off
#include <jpeglib.h>
// clang-format on

#include "imaging/filter.h"
#include "imaging/jpeg_dc_scan.h"
#include "imaging/stream.h"

namespace scopa {
namespace {

using Bytes = std::vector<uint8_t>;

struct Encoding {
    int width;
    int height;
    int h_samp;  // of luma; chroma is 1 x 1
    int v_samp;
    int quality;
    unsigned restart_mcus;
    bool grey = false;
    bool optimise = false;
};

// Smooth colour ramps under a pseudo-random texture whose strength grows to the right, so
// blocks range from a lone DC to every AC coefficient set (long codes at high quality).
Bytes Encode(const Encoding& e) {
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(e.width);
    info.image_height = JDIMENSION(e.height);
    info.input_components = e.grey ? 1 : 3;
    info.in_color_space = e.grey ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, e.quality, TRUE);
    info.restart_interval = e.restart_mcus;
    info.optimize_coding = e.optimise ? TRUE : FALSE;
    info.comp_info[0].h_samp_factor = e.h_samp;
    info.comp_info[0].v_samp_factor = e.v_samp;
    jpeg_start_compress(&info, TRUE);
    Bytes row(size_t(e.width) * 3);
    uint32_t noise = 12345;
    while (info.next_scanline < info.image_height) {
        int y = int(info.next_scanline);
        for (int x = 0; x < e.width * info.input_components; ++x) {
            noise = noise * 1103515245 + 12345;
            int texture = int((noise >> 16) % 256) * (x % e.width) / e.width - 64;
            row[size_t(x)] = uint8_t(std::clamp((x * 7 + y * 3) % 256 + texture, 0, 255));
        }
        JSAMPROW pointer = row.data();
        jpeg_write_scanlines(&info, &pointer, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    Bytes bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

struct Decoder {
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    std::jmp_buf jump;
};

[[noreturn]] void Jump(j_common_ptr info) {
    std::longjmp(reinterpret_cast<Decoder*>(info)->jump, 1);
}
void Quiet(j_common_ptr) {}

// libjpeg-turbo's 1/8 decode with the settings the JPEG filter uses; rows packed.
Bytes LibraryEighth(const Bytes& jpeg, int& width) {
    Decoder d;
    d.info.err = jpeg_std_error(&d.errors);
    d.errors.error_exit = Jump;
    d.errors.output_message = Quiet;  // warnings about damaged scans
    jpeg_create_decompress(&d.info);
    Bytes pixels;
    if (setjmp(d.jump) == 0) {
        jpeg_mem_src(&d.info, jpeg.data(), jpeg.size());
        jpeg_read_header(&d.info, TRUE);
        d.info.scale_denom = 8;
        d.info.out_color_space = JCS_EXT_BGR;
        d.info.do_fancy_upsampling = FALSE;
        d.info.dct_method = JDCT_IFAST;
        jpeg_start_decompress(&d.info);
        width = int(d.info.output_width);
        pixels.resize(size_t(width) * 3 * d.info.output_height);
        while (d.info.output_scanline < d.info.output_height) {
            JSAMPROW row = pixels.data() + size_t(d.info.output_scanline) * size_t(width) * 3;
            jpeg_read_scanlines(&d.info, &row, 1);
        }
    }
    jpeg_destroy_decompress(&d.info);
    return pixels;
}

Bytes Packed(const oDIB& dib) {
    Bytes pixels;
    for (int32_t y = 0; y < dib.Height(); ++y) {
        pixels.insert(pixels.end(), dib.Row(y), dib.Row(y) + size_t(dib.Width()) * 3);
    }
    return pixels;
}

bool AlwaysGoOn(void*, int32_t) {
    return true;
}

// The DC reader's result on `jpeg`, its header read by the library.
DcScanResult ReadEighth(const Bytes& jpeg, oDIB& out) {
    Decoder d;
    d.info.err = jpeg_std_error(&d.errors);
    jpeg_create_decompress(&d.info);
    jpeg_mem_src(&d.info, jpeg.data(), jpeg.size());
    jpeg_read_header(&d.info, TRUE);
    DcScanLayout layout;
    DcScanResult result = DcScanResult::kNotRead;
    if (DescribeDcScan(&d.info, layout)) {
        vMEMSTREAM rest;
        result = ReadDcScan(layout, {d.info.src->next_input_byte, d.info.src->bytes_in_buffer},
                            rest, out, AlwaysGoOn, nullptr);
    }
    jpeg_destroy_decompress(&d.info);
    return result;
}

TEST(JpegDcScan, GivesTheLibrarysPixelsAtAnEighth) {
    const Encoding encodings[] = {
        {77, 45, 2, 2, 75, 0},           {203, 131, 2, 1, 90, 3},
        {130, 66, 1, 1, 100, 1},         {64, 64, 1, 2, 50, 0},
        {257, 33, 2, 2, 100, 5},         {99, 121, 1, 1, 85, 0, true},
        {41, 200, 4, 1, 80, 2},          {300, 17, 2, 2, 95, 7, false, true},
        {8, 8, 1, 1, 20, 0, true, true}, {1, 1, 2, 2, 90, 1},
    };
    for (const Encoding& e : encodings) {
        std::string what = std::to_string(e.width) + "x" + std::to_string(e.height) + " " +
                           std::to_string(e.h_samp) + "x" + std::to_string(e.v_samp) + " q" +
                           std::to_string(e.quality) + " r" + std::to_string(e.restart_mcus);
        Bytes jpeg = Encode(e);
        int width = 0;
        Bytes expected = LibraryEighth(jpeg, width);
        oDIB dib;
        ASSERT_EQ(ReadEighth(jpeg, dib), DcScanResult::kDone) << what;
        EXPECT_EQ(dib.Width(), width) << what;
        EXPECT_EQ(Packed(dib), expected) << what;
    }
}

constexpr uint8_t kStartOfScan = 0xDA;

// Where the scan's entropy-coded data starts in `jpeg`.
size_t ScanStart(const Bytes& jpeg) {
    for (size_t i = 0; i + 3 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && jpeg[i + 1] == kStartOfScan)
            return i + 2 + (jpeg[i + 2] << 8 | jpeg[i + 3]);
    }
    return 0;
}

TEST(JpegDcScan, DamagedScansAreLeftToTheLibrary) {
    const Bytes good = Encode({160, 96, 2, 2, 90, 2});
    const size_t scan = ScanStart(good);
    ASSERT_GT(scan, 0u);
    auto restart_marker = [&](size_t from) {
        for (size_t i = from; i + 1 < good.size(); ++i) {
            if (good[i] == 0xFF && good[i + 1] >= JPEG_RST0 && good[i + 1] <= JPEG_RST0 + 7) {
                return i;
            }
        }
        return size_t(0);
    };
    size_t first_restart = restart_marker(scan);
    ASSERT_GT(first_restart, 0u);

    Bytes cut(good.begin(), good.begin() + ptrdiff_t(scan + (good.size() - scan) / 2));
    Bytes ended_early = cut;
    ended_early.insert(ended_early.end(), {0xFF, JPEG_EOI});
    Bytes misnumbered = good;
    misnumbered[first_restart + 1] = JPEG_RST0 + 5;
    Bytes missing_restart = good;
    missing_restart.erase(missing_restart.begin() + ptrdiff_t(first_restart),
                          missing_restart.begin() + ptrdiff_t(first_restart) + 2);
    for (const Bytes* damaged : {&cut, &ended_early, &misnumbered, &missing_restart}) {
        oDIB dib;
        EXPECT_EQ(ReadEighth(*damaged, dib), DcScanResult::kNotRead) << damaged - &cut;
    }
    // Bytes changed anywhere in the data: read or left, never a fault.
    uint32_t noise = 99;
    for (int trial = 0; trial < 200; ++trial) {
        Bytes changed = good;
        for (int i = 0; i < 4; ++i) {
            noise = noise * 1103515245 + 12345;
            changed[scan + (noise >> 8) % (good.size() - scan - 2)] = uint8_t(noise >> 24);
        }
        oDIB dib;
        ReadEighth(changed, dib);
    }
}

// Through the filter a picture large enough to be read at 1/8: a scan the DC reader leaves
// is read by the library from the start, and a truncated picture fails as it always did.
TEST(JpegDcScan, TheFilterFallsBackToTheLibrary) {
    const Bytes good = Encode({2048, 40, 2, 2, 85, 4});
    size_t restart = ScanStart(good);
    while (!(good[restart] == 0xFF && good[restart + 1] == JPEG_RST0 + 1))
        ++restart;
    Bytes misnumbered = good;
    misnumbered[restart + 1] = JPEG_RST0 + 3;
    Bytes cut(good.begin(), good.begin() + ptrdiff_t(good.size() * 3 / 4));
    oFILTER* filter = oFILTERLIST::FindByID("JPG");
    auto read = [&](const Bytes& jpeg, oDIB& dib) {
        vMEMSTREAM stream(jpeg);
        int count = filter->GetResolutionCount(stream);
        filter->SetResolution(count - 1);
        stream.Seek(0);
        return filter->Convert(stream, dib);
    };
    for (const Bytes* jpeg : {&good, const_cast<const Bytes*>(&misnumbered)}) {
        oDIB dib;
        ASSERT_EQ(read(*jpeg, dib), kFilterDone);
        int width = 0;
        EXPECT_EQ(Packed(dib), LibraryEighth(*jpeg, width));
        EXPECT_EQ(dib.Width(), 256);
    }
    oDIB dib;
    EXPECT_EQ(read(cut, dib), kFilterFailed);
}

}  // namespace
}  // namespace scopa
