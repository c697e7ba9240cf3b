// The profile catalogue and the delivered Format.xml, checked against the linked FFmpeg: every
// profile must open its encoders and its container with exactly its own values, and with each
// alternative its choice lists offer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/imgutils.h>
}

#include "TempFolder.h"
#include "profiles/ProfileCatalogue.h"
#include "profiles/ProfileList.h"

namespace {

TEST(ProfileCatalogue, HasTheCategoriesAndEntriesInOrder)
{
    auto categories = ProfileCategories();
    ASSERT_EQ(categories.size(), 17u);
    size_t entries = 0;
    std::set<int32_t> commands;
    for (size_t i = 0; i < categories.size(); ++i) {
        EXPECT_EQ(categories[i].number, static_cast<int32_t>(i + 1));
        EXPECT_EQ(std::string(categories[i].titlePicture).rfind("/Skin/", 0), 0u) << categories[i].name;
        for (const CatalogueEntry& e : categories[i].entries) {
            ++entries;
            EXPECT_TRUE(commands.insert(e.commandId).second) << "duplicate " << e.commandId;
            EXPECT_GE(e.commandId, kFirstProfileCommand);
            EXPECT_LE(e.commandId, kLastProfileCommand);
            EXPECT_FALSE(EntryTitle(e).empty()) << e.commandId;
            EXPECT_FALSE(EntryDescription(e).empty()) << e.commandId;
            EXPECT_EQ(EntryTitle(e).find("/n"), std::string_view::npos);
        }
    }
    EXPECT_EQ(entries, 107u);
    EXPECT_STREQ(categories[0].name, "General Video");
    EXPECT_STREQ(categories[16].name, "Zune");
    EXPECT_EQ(EntryTitle(categories[1].entries[5]), "MP3-MPEG Layer-3 Audio(*.mp3)");
    EXPECT_EQ(EntryDescription(categories[1].entries[5]),
              "Popular audio format,with excellent sound quality and small size.");
}

TEST(ProfileCatalogue, CommandTableMapsToProfileIndexes)
{
    struct Case {
        int32_t command;
        int32_t index;
    };
    const Case cases[] = {
        {32801, 0},   {32810, 9},   {32813, 10},  {32814, 11},  {32815, 12},  {32825, 20},
        {32850, 47},  {32852, 47},  {32851, 46},  {32853, 46},  {32884, 48},  {32876, 27},
        {32883, 31},  {32881, 32},  {32874, 101}, {32927, 106},
        // Identifiers without a row select profile 0.
        {32811, 0},   {32812, 0},   {32818, 0},   {32800, 0},   {32928, 0},   {0, 0},  {-1, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ProfileIndexForCommand(c.command), c.index) << c.command;
    EXPECT_EQ(FindCatalogueEntry(32851), nullptr);
    // Every profile index 0..106 is reachable from some identifier.
    std::set<int32_t> reached;
    for (int32_t id = kFirstProfileCommand; id <= kLastProfileCommand; ++id)
        reached.insert(ProfileIndexForCommand(id));
    EXPECT_EQ(reached.size(), 107u);
}

class DeliveredFormatXml : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LoadProfiles(ZDR_BIN_DIR, m_list, &m_truncations)) << ZDR_BIN_DIR "/Format.xml";
        ProfileListLock hold(m_list);
        for (size_t i = 0; i < m_list.Count(); ++i)
            m_profiles.push_back(m_list.At(i));
    }

    ProfileList m_list;
    std::vector<FormatProfile> m_profiles;
    std::vector<std::string> m_truncations;
};

TEST_F(DeliveredFormatXml, HoldsTheCatalogueInOrderWithNothingCut)
{
    ASSERT_GE(m_profiles.size(), 107u);
    EXPECT_TRUE(m_truncations.empty()) << m_truncations.front();
    for (size_t i = 0; i < m_profiles.size(); ++i)
        EXPECT_EQ(m_profiles[i].Index, static_cast<int32_t>(i));
    for (const CatalogueCategory& category : ProfileCategories()) {
        for (const CatalogueEntry& e : category.entries) {
            FormatProfile p {};
            ASSERT_TRUE(m_list.FindProfile(e.profileIndex, p)) << e.commandId;
            // The entry's title ends in the extension its profile writes: "...(*.mp4)".
            std::string title(EntryTitle(e));
            EXPECT_NE(title.find("(*" + FieldText(p.FormatExt) + ")"), std::string::npos) << title;
        }
    }
}

TEST(DeliveredSetXml, NamesTheApplicationAndItsHomePage)
{
    SiteSettings settings;
    ASSERT_TRUE(LoadSiteSettings(ZDR_BIN_DIR, settings));
    EXPECT_EQ(settings.AppTitle, "ZaDeroza DVD Ripper");
    EXPECT_EQ(settings.AppUrl.rfind("https://", 0), 0u) << settings.AppUrl;
}

// The choice lists must offer the profile's own values, so that the settings dialog can show
// them, and every key must be usable as the value it stands for.
TEST_F(DeliveredFormatXml, ChoiceListsHoldTheDefaultsAndWellFormedKeys)
{
    auto isNumber = [](const std::string& s) {
        return !s.empty() && s.find_first_not_of("0123456789") == std::string::npos && s[0] != '0';
    };
    for (const FormatProfile& p : m_profiles) {
        SCOPED_TRACE(FieldText(p.ProfileName));
        if (p.VideoEnabled) {
            char size[32];
            std::snprintf(size, sizeof size, "%d*%d", p.Width, p.Height);
            EXPECT_NE(LabelForKey(FieldText(p.Resolutions), size), "");
            EXPECT_NE(LabelForKey(FieldText(p.FrameRates), std::to_string(p.FrameRate)), "");
            EXPECT_NE(LabelForKey(FieldText(p.VideoBitRates), std::to_string(p.VideoBitRate)), "");
            EXPECT_NE(LabelForKey(FieldText(p.VideoCodecs), FieldText(p.VideoCodecName)), "");
            for (const ChoiceItem& item : ChoiceItems(FieldText(p.Resolutions))) {
                int w = 0, h = 0;
                // The dialog reads the shown label back with "%d*%d".
                EXPECT_EQ(std::sscanf(item.label.c_str(), "%d*%d", &w, &h), 2) << item.label;
                EXPECT_EQ(item.key, std::to_string(w) + "*" + std::to_string(h));
            }
            for (const ChoiceItem& item : ChoiceItems(FieldText(p.FrameRates)))
                EXPECT_TRUE(isNumber(item.key)) << item.key;
            for (const ChoiceItem& item : ChoiceItems(FieldText(p.VideoBitRates)))
                EXPECT_TRUE(isNumber(item.key)) << item.key;
            for (const ChoiceItem& item : ChoiceItems(FieldText(p.VideoCodecs)))
                EXPECT_NE(avcodec_find_encoder_by_name(item.key.c_str()), nullptr) << item.key;
        } else {
            EXPECT_EQ(FieldText(p.VideoCodecName), "");
        }
        ASSERT_TRUE(p.AudioEnabled);
        EXPECT_NE(LabelForKey(FieldText(p.SampleRates), std::to_string(p.SampleRate)), "");
        EXPECT_NE(LabelForKey(FieldText(p.Channels), std::to_string(p.Channel)), "");
        EXPECT_NE(LabelForKey(FieldText(p.AudioBitRates), std::to_string(p.AudioBitRate)), "");
        EXPECT_NE(LabelForKey(FieldText(p.AudioCodecs), FieldText(p.AudioCodecName)), "");
        for (const char16_t* list : {p.SampleRates, p.Channels, p.AudioBitRates})
            for (const ChoiceItem& item : ChoiceItems(Utf16FieldToUtf8(list, 128)))
                EXPECT_TRUE(isNumber(item.key)) << item.key;
        for (const ChoiceItem& item : ChoiceItems(FieldText(p.AudioCodecs)))
            EXPECT_NE(avcodec_find_encoder_by_name(item.key.c_str()), nullptr) << item.key;
    }
}

TEST_F(DeliveredFormatXml, EncodersAndContainersExistInTheLinkedLibraries)
{
    for (const FormatProfile& p : m_profiles) {
        SCOPED_TRACE(FieldText(p.ProfileName));
        const AVOutputFormat* format = av_guess_format(nullptr, ("out" + FieldText(p.FormatExt)).c_str(), nullptr);
        ASSERT_NE(format, nullptr) << FieldText(p.FormatExt);
        const AVCodec* audio = avcodec_find_encoder_by_name(FieldText(p.AudioCodecName).c_str());
        ASSERT_NE(audio, nullptr) << FieldText(p.AudioCodecName);
        EXPECT_NE(avformat_query_codec(format, audio->id, FF_COMPLIANCE_NORMAL), 0);
        if (p.VideoEnabled) {
            const AVCodec* video = avcodec_find_encoder_by_name(FieldText(p.VideoCodecName).c_str());
            ASSERT_NE(video, nullptr) << FieldText(p.VideoCodecName);
            EXPECT_NE(avformat_query_codec(format, video->id, FF_COMPLIANCE_NORMAL), 0);
        }
    }
}

// Opens the encoders with the values the converter gives them (time base from the frame rate,
// one key frame per second, no B-frames, the encoder's first pixel and sample format), writes
// the container header, one picture and one audio frame, and the trailer. Returns "" or what
// failed.
std::string TryProfile(const FormatProfile& p, const std::string& path)
{
    const AVOutputFormat* format = av_guess_format(nullptr, path.c_str(), nullptr);
    if (!format)
        return "no container";
    AVFormatContext* out = nullptr;
    if (avformat_alloc_output_context2(&out, format, nullptr, path.c_str()) < 0)
        return "no output context";
    std::string failure;
    AVCodecContext* vc = nullptr;
    AVCodecContext* ac = nullptr;
    AVStream* vs = nullptr;
    AVStream* as = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    auto writeAll = [&](AVCodecContext* c, AVStream* s, AVFrame* f) {
        if (avcodec_send_frame(c, f) < 0)
            return false;
        while (avcodec_receive_packet(c, packet) == 0) {
            packet->stream_index = s->index;
            av_packet_rescale_ts(packet, c->time_base, s->time_base);
            if (av_interleaved_write_frame(out, packet) < 0)
                return false;
        }
        return true;
    };
    do {
        if (p.VideoEnabled) {
            const AVCodec* codec = avcodec_find_encoder_by_name(p.VideoCodecName);
            if (!codec || !codec->pix_fmts) {
                failure = "no video encoder";
                break;
            }
            vc = avcodec_alloc_context3(codec);
            vc->width = p.Width;
            vc->height = p.Height;
            vc->bit_rate = p.VideoBitRate;
            if (p.FrameRate == 23976)
                vc->time_base = {1001, 24000};
            else if (p.FrameRate == 29970)
                vc->time_base = {1001, 30000};
            else
                vc->time_base = {1, p.FrameRate / 1000};
            vc->framerate = av_inv_q(vc->time_base);
            vc->gop_size = p.FrameRate / 1000;
            vc->max_b_frames = 0;
            vc->pix_fmt = codec->pix_fmts[0];
            vc->sample_aspect_ratio = {1, 1};
            if (codec->id == AV_CODEC_ID_MJPEG)
                vc->strict_std_compliance = FF_COMPLIANCE_UNOFFICIAL;
            if (format->flags & AVFMT_GLOBALHEADER)
                vc->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
            if (avcodec_open2(vc, codec, nullptr) < 0) {
                failure = "video encoder refused";
                break;
            }
            vs = avformat_new_stream(out, nullptr);
            vs->time_base = vc->time_base;
            vs->sample_aspect_ratio = vc->sample_aspect_ratio;
            avcodec_parameters_from_context(vs->codecpar, vc);
        }
        // The converter opens the audio codec with FFmpeg's first encoder for the named
        // encoder's codec id, so that is the one that must accept the profile.
        const AVCodec* named = avcodec_find_encoder_by_name(p.AudioCodecName);
        const AVCodec* codec = named ? avcodec_find_encoder(named->id) : nullptr;
        if (!codec) {
            failure = "no audio encoder";
            break;
        }
        ac = avcodec_alloc_context3(codec);
        ac->bit_rate = p.AudioBitRate;
        ac->sample_rate = p.SampleRate;
        av_channel_layout_default(&ac->ch_layout, p.Channel);
        ac->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
        ac->time_base = {1, p.SampleRate};
        if (format->flags & AVFMT_GLOBALHEADER)
            ac->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        if (avcodec_open2(ac, codec, nullptr) < 0) {
            failure = "audio encoder refused";
            break;
        }
        as = avformat_new_stream(out, nullptr);
        as->time_base = ac->time_base;
        avcodec_parameters_from_context(as->codecpar, ac);
        if (avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
            failure = "cannot open the file";
            break;
        }
        if (avformat_write_header(out, nullptr) < 0) {
            failure = "container refused the streams";
            break;
        }
        if (vc) {
            frame->format = vc->pix_fmt;
            frame->width = vc->width;
            frame->height = vc->height;
            if (av_frame_get_buffer(frame, 0) < 0 || av_frame_make_writable(frame) < 0) {
                failure = "no picture";
                break;
            }
            for (int plane = 0; plane < 4 && frame->data[plane]; ++plane)
                std::fill_n(frame->data[plane], static_cast<size_t>(frame->linesize[plane]) *
                                                    (plane ? AV_CEIL_RSHIFT(frame->height, 1) : frame->height),
                            uint8_t(plane ? 128 : 16));
            frame->pts = 0;
            if (!writeAll(vc, vs, frame) || !writeAll(vc, vs, nullptr)) {
                failure = "video encoding failed";
                break;
            }
            av_frame_unref(frame);
        }
        frame->format = ac->sample_fmt;
        frame->sample_rate = ac->sample_rate;
        frame->nb_samples = ac->frame_size > 0 ? ac->frame_size : 1024;
        av_channel_layout_copy(&frame->ch_layout, &ac->ch_layout);
        if (av_frame_get_buffer(frame, 0) < 0) {
            failure = "no audio frame";
            break;
        }
        av_samples_set_silence(frame->extended_data, 0, frame->nb_samples, ac->ch_layout.nb_channels,
                               ac->sample_fmt);
        frame->pts = 0;
        if (!writeAll(ac, as, frame) || !writeAll(ac, as, nullptr)) {
            failure = "audio encoding failed";
            break;
        }
        if (av_write_trailer(out) < 0)
            failure = "trailer failed";
    } while (false);
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&vc);
    avcodec_free_context(&ac);
    if (out->pb)
        avio_closep(&out->pb);
    avformat_free_context(out);
    return failure;
}

// The profile with one value replaced by each alternative of its choice lists, in turn.
std::vector<std::pair<std::string, FormatProfile>> Variants(const FormatProfile& p)
{
    std::vector<std::pair<std::string, FormatProfile>> variants {{"defaults", p}};
    auto number = [](const std::string& key) { return static_cast<int32_t>(std::strtol(key.c_str(), nullptr, 10)); };
    auto add = [&](const char16_t* list, size_t room, auto apply) {
        for (const ChoiceItem& item : ChoiceItems(Utf16FieldToUtf8(list, room))) {
            FormatProfile q = p;
            apply(q, item.key);
            if (std::memcmp(&q, &p, sizeof q) != 0)
                variants.push_back({item.key, q});
        }
    };
    if (p.VideoEnabled) {
        add(p.Resolutions, 128, [](FormatProfile& q, const std::string& k) {
            std::sscanf(k.c_str(), "%d*%d", &q.Width, &q.Height);
        });
        add(p.FrameRates, 128, [&](FormatProfile& q, const std::string& k) { q.FrameRate = number(k); });
        add(p.VideoCodecs, 256, [](FormatProfile& q, const std::string& k) {
            AssignCharField(q.VideoCodecName, sizeof q.VideoCodecName, k);
        });
    }
    add(p.SampleRates, 128, [&](FormatProfile& q, const std::string& k) { q.SampleRate = number(k); });
    add(p.Channels, 64, [&](FormatProfile& q, const std::string& k) { q.Channel = number(k); });
    add(p.AudioCodecs, 128, [](FormatProfile& q, const std::string& k) {
        AssignCharField(q.AudioCodecName, sizeof q.AudioCodecName, k);
    });
    add(p.AudioBitRates, 128, [&](FormatProfile& q, const std::string& k) { q.AudioBitRate = number(k); });
    return variants;
}

TEST_F(DeliveredFormatXml, EveryProfileAndAlternativeOpensItsEncodersAndContainer)
{
    av_log_set_level(AV_LOG_FATAL);
    TempFolder folder;
    for (const FormatProfile& p : m_profiles) {
        for (const auto& [what, q] : Variants(p)) {
            std::string failure = TryProfile(q, folder.File("out" + FieldText(q.FormatExt)));
            EXPECT_EQ(failure, "") << "profile " << p.Index << " (" << FieldText(p.ProfileName) << ") with " << what;
        }
    }
}

} // namespace
