/* The same job as Inkveil's conversion, scripted against libvips as a user could: every *.jpg of a
 * folder loaded (shrink-on-load and a top-left crop for a fixed size), the red text laid at its
 * bottom right, saved at quality 100 into another folder. Prints the work's milliseconds per file,
 * process start-up and a first, untimed conversion excluded.
 *
 *   vips_watermark keep|fixed <sources> <outputs> <font> [<width> <height>]
 *   vips_watermark panorama <source> <output>   (5 x 3 copies of the source, cut to 30000 x 10000)
 */
#include <vips/vips.h>

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now_ms(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000.0 + now.tv_nsec / 1e6;
}

static int fail(const char *what)
{
    fprintf(stderr, "%s: %s\n", what, vips_error_buffer());
    return 1;
}

/* The text as Inkveil draws it by default: red at opacity 100/255, at the bottom right. */
static int watermark(VipsImage *picture, const char *font, VipsImage **out)
{
    VipsImage *mask = NULL, *alpha = NULL, *red = NULL, *joined = NULL, *layer = NULL;
    const double colour[] = {255.0, 0.0, 0.0};
    int result = vips_text(&mask, "Inkveil", "font", font, NULL);
    if (result == 0) result = vips_linear1(mask, &alpha, 100.0 / 255.0, 0.0, "uchar", TRUE, NULL);
    if (result == 0) result = (red = vips_image_new_from_image(alpha, colour, 3)) ? 0 : -1;
    if (result == 0) result = vips_bandjoin2(red, alpha, &joined, NULL);
    if (result == 0) result = vips_copy(joined, &layer, "interpretation", VIPS_INTERPRETATION_sRGB, NULL);
    if (result == 0)
        result = vips_composite2(picture, layer, out, VIPS_BLEND_MODE_OVER, "x", picture->Xsize - layer->Xsize, "y",
                                 picture->Ysize - layer->Ysize, NULL);
    g_clear_object(&mask);
    g_clear_object(&alpha);
    g_clear_object(&red);
    g_clear_object(&joined);
    g_clear_object(&layer);
    return result;
}

static int convert_one(const char *source, const char *output, const char *font, int fixed, int width, int height)
{
    VipsImage *picture = NULL, *marked = NULL;
    int result = -1;
    if (fixed)
        result = vips_thumbnail(source, &picture, width, "height", height, "size", VIPS_SIZE_BOTH, "crop",
                                VIPS_INTERESTING_LOW, NULL);
    else
        result = (picture = vips_image_new_from_file(source, "access", VIPS_ACCESS_SEQUENTIAL, NULL)) ? 0 : -1;
    if (result == 0) result = watermark(picture, font, &marked);
    if (result == 0) result = vips_jpegsave(marked, output, "Q", 100, NULL);
    g_clear_object(&picture);
    g_clear_object(&marked);
    return result;
}

/* Converts the folder's *.jpg files, or only its first one; returns how many, or -1 on a failure. */
static int convert_folder(const char *sources, const char *outputs, const char *font, int fixed, int width, int height,
                          int first_only)
{
    DIR *folder = opendir(sources);
    if (folder == NULL) return fail(sources), -1;
    int files = 0;
    for (struct dirent *entry; (entry = readdir(folder)) != NULL && !(first_only && files > 0);) {
        const size_t length = strlen(entry->d_name);
        if (length < 4 || strcmp(entry->d_name + length - 4, ".jpg") != 0) continue;
        char source[4096], output[4096];
        snprintf(source, sizeof source, "%s/%s", sources, entry->d_name);
        snprintf(output, sizeof output, "%s/%s", outputs, entry->d_name);
        if (convert_one(source, output, font, fixed, width, height) != 0) {
            closedir(folder);
            return fail(source), -1;
        }
        ++files;
    }
    closedir(folder);
    return files;
}

static int panorama(const char *source, const char *output)
{
    VipsImage *picture = NULL, *tiled = NULL, *cut = NULL;
    int result = (picture = vips_image_new_from_file(source, NULL)) ? 0 : -1;
    if (result == 0) result = vips_replicate(picture, &tiled, 5, 3, NULL);
    if (result == 0) result = vips_crop(tiled, &cut, 0, 0, 30000, 10000, NULL);
    if (result == 0) result = vips_jpegsave(cut, output, "Q", 90, NULL);
    g_clear_object(&picture);
    g_clear_object(&tiled);
    g_clear_object(&cut);
    return result == 0 ? 0 : fail(source);
}

int main(int argc, char **argv)
{
    if (VIPS_INIT(argv[0])) return fail("vips_init");
    if (argc == 4 && strcmp(argv[1], "panorama") == 0) return panorama(argv[2], argv[3]);
    if (argc < 5) {
        fprintf(stderr, "usage: %s keep|fixed <sources> <outputs> <font> [<width> <height>]\n", argv[0]);
        return 2;
    }
    const int fixed = strcmp(argv[1], "fixed") == 0;
    const int width = argc > 6 ? atoi(argv[5]) : 1600, height = argc > 6 ? atoi(argv[6]) : 1200;
    /* One conversion of the first file before the clock: the text's fonts, the thread pool and
     * the codecs are then set up, as Inkveil's are by the preview it shows before any conversion. */
    if (convert_folder(argv[2], argv[3], argv[4], fixed, width, height, 1) < 0) return 1;
    const double start = now_ms();
    const int files = convert_folder(argv[2], argv[3], argv[4], fixed, width, height, 0);
    if (files < 0) return 1;
    if (files == 0) return fail("no *.jpg");
    printf("vips files=%d ms_per_file=%.1f\n", files, (now_ms() - start) / files);
    return 0;
}
