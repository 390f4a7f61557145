#include "manager/client/LUMCategoryToolTips.h"

#include <QCoreApplication>

namespace {

// The default text (what users see without a translation) has %1 where the list goes.
QString fill(const char *key, const char *format, const char *types)
{
    return QCoreApplication::translate("Localizable", format, key).arg(QString::fromUtf8(types));
}

const char *const kGenericKey = "Files with the types-generictypes";
const char *const kGenericFormat = "Including files with types:\n%1";

} // namespace

QString LUMCategoryToolTips::music(qint32 deviceFilter)
{
    switch (deviceFilter) {
    case 1:
    case 2:
    case 3:
    case 4:
        return fill("Audio files with the types-apple",
            "Audio-only files using Apple \ncompatible codecs with the types:\n%1",
            ".aac, .mp3, .wav, .aiff, .m4a, .m4b, .mp4, .mov");
    case 5:
        return fill("Audio files with the Android 4.0 types",
            "Audio-only files using Android devices \ncompatible codecs with the types:\n%1",
            ".3gp, .aac, .flac, .imy, .m4a,\n.mid, .midi, mp3, .mxmf, ogg, .ota,\n.rtttl, .rtx, .wav, .xmf");
    case 6:
        return fill("Audio files with the Kindle Fire types",
            "Audio-only files using Amazon Kindle Fire \ncompatible codecs with the types:\n%1",
            ".3gp, .aac, .m4a (Non-DRM), \n.mid, .midi, .mp3, .ogg, .wav");
    case 7:
        return fill("Audio files with the Kindle Fire types",
            "Audio-only files using Amazon Kindle Fire \ncompatible codecs with the types:\n%1",
            ".aac, .ac3, ec3, .m4a (Non-DRM)\n.mid, .midi, .mp3, .ogg, .wav");
    case 8:
        return fill("Audio files with the Windows RT types",
            "Audio-only files using Windows RT \ncompatible codecs with the types:\n%1",
            ".aac, .ac3, .adt, .adts,\n.ec3, .m4a, .mp3, .wma");
    default:
        return fill(kGenericKey, kGenericFormat,
            ".3gp, .aac, .ac3, .asf, .flac, \n.m4a, .mov, .mp3, .mp4, .ogg, \n.ra, .rm, .rmvb, .wav, .wma, \n"
            ".m3u, .pls");
    }
}

QString LUMCategoryToolTips::movies(qint32 deviceFilter)
{
    switch (deviceFilter) {
    case 1:
    case 3:
        return fill("Video files with the types-appleHigh",
            "Video files with the types:\n%1 using compatible \nencoding, .avi using M-JPEG \nup to 720p 30fps",
            ".m4v, .mp4, .mov");
    case 2:
        return fill("Video files with the types-appleAll",
            "Video files with the types:\n%1 using compatible \nencoding, .avi using M-JPEG \n"
            "Some files will not play on all devices.",
            ".m4v, .mp4, .mov");
    case 4:
        return fill("Video files with the types-appleLow",
            "Video files with the types: %1 \nusing compatible encoding up to 480p 30fps", ".m4v, .mp4, .mov");
    case 5:
        return fill(
            "Video files with the types-android", "Video files with the types: %1", ".3gp, .mkv, .mp4, .ts, .webm");
    case 6:
    case 7:
        return fill("Video files with the types-kindle_fire", "Video files with the types: %1", ".3gp, .mp4, .webm");
    case 8:
        return fill("Video files with the types Windows RT", "Video files with the types: %1",
            ".3gp, .3g2, .3gp2, .3gpp, .avi,.m4v, .mp4, .mp4v, .mov, .asf,.wm, .wmv");
    default:
        return fill(kGenericKey, kGenericFormat,
            ".asf, .avi, .dat, .divx, .flv, \n.ifo, .iso, .m2ts, .mkv, .mov, \n.mp4, .m4v, .mpeg, .mpg, \n"
            ".mts, .rm, .rmvb, .sami, .smi, \n.srt, .sub, .tp, .trp, .ts, \n.vob, .wmv, .xvid");
    }
}

QString LUMCategoryToolTips::pictures(qint32 deviceFilter)
{
    switch (deviceFilter) {
    case 8:
        return fill("Files with the types Windows RT devices", kGenericFormat, ".bmp, .gif, .jpeg, .jpg, .png, .tiff");
    case 5:
        return fill("Files with the types Android devices", kGenericFormat, ".bmp, .gif, .jpeg, .jpg, .png, .webp");
    case 6:
    case 7:
        return fill(kGenericKey, kGenericFormat, ".bmp, .gif, .jpeg, .jpg, .png");
    default:
        return fill(kGenericKey, kGenericFormat, ".bmp, .gif, .jpeg, .jpg, .png, .tiff");
    }
}

QString LUMCategoryToolTips::documents(qint32 deviceFilter)
{
    switch (deviceFilter) {
    case 0:
        return fill(kGenericKey, kGenericFormat,
            ".azw, .doc, .docx, .htm, .html,\n.key, .mobi, .numbers, .pages, \n.pdf, .ppt, .pptx, .prc, .txt, .rtf,\n"
            ".vcf, .xls, .xlsx");
    case 5:
        return fill("Files with the types-Android 4.0", kGenericFormat,
            ".doc, .docx, .htm, .html, .pdf,\n.ppt, .pptx, .txt, .rtf, .xls, .xlsx");
    case 6:
    case 7:
        return fill("Files with the types-kindle_fire", kGenericFormat, ".azw .doc, .docx, mobi, .prc,\n.pdf, .txt");
    case 8:
        return fill("Files with the types Windows RT", kGenericFormat,
            ".doc, .docx, .htm, .html, .pdf,\n.ppt, .pptx, .txt, .rtf, .xls, .xlsx");
    default:
        return fill(kGenericKey, kGenericFormat,
            ".doc, .docx, .htm, .html, .key, \n.numbers, .pages, .pdf, .ppt, \n.pptx, .txt, .rtf, .vcf, .xls, .xlsx");
    }
}
