/* Zemo 3 playback: reads a Zemo 3 movie into GPU-ready texture planes.
 *
 * A frame of a Zemo 3 movie holds compressed texture blocks a GPU samples
 * directly. This library opens a movie (QuickTime and the other containers
 * FFmpeg's demuxers read), restores the blocks of frame N or of the next
 * frame, and hands them out as one or two planes with their OpenGL internal
 * format; a player uploads them with glCompressedTexSubImage2D and draws them
 * with the fragment shader of the frame's type. Sound comes out as stored.
 *
 * A plain C interface: any C or C++ program can use it. One movie handle is
 * used by one thread at a time; separate handles are independent.
 */
#ifndef ZEMO3_PLAYBACK_H
#define ZEMO3_PLAYBACK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* OpenGL internal formats of the planes (the values of the GL enums). */
#define ZEMO3_GL_COMPRESSED_RGBA_S3TC_DXT1 0x83F1u /* DXT1 with 1-bit alpha */
#define ZEMO3_GL_COMPRESSED_RGBA_S3TC_DXT5 0x83F3u
#define ZEMO3_GL_COMPRESSED_RED_RGTC1 0x8DBBu
#define ZEMO3_GL_COMPRESSED_RG_RGTC2 0x8DBDu

typedef struct Zemo3Movie Zemo3Movie;

/* One texture plane: blocks of 4x4 texels, rows of blocks from the top. */
typedef struct Zemo3Plane {
    const uint8_t* data;  /* in the library's memory: valid until the next read
                             on the movie; in the caller's (the _into reads):
                             for as long as the caller keeps that memory */
    size_t size;          /* bytes: widthBlocks * heightBlocks * blockBytes */
    uint32_t widthBlocks; /* the plane is 4*widthBlocks x 4*heightBlocks texels */
    uint32_t heightBlocks;
    uint32_t blockBytes; /* 8 (DXT1, RGTC1) or 16 (DXT5, RGTC2) */
    uint32_t glFormat;   /* one of the ZEMO3_GL_ values */
} Zemo3Plane;

/* Frame types: 0 DXT1, 1 DXT5, 2 YCoCg, 3 YCoCg with alpha (4 and 5: frames
 * of older files, laid out as 0 and 1).
 *   0, 4: one plane, DXT1, the picture's padded size.
 *   1, 5: one plane, DXT5.
 *   2:    plane 0 RGTC1 luma at the padded size; plane 1 RGTC2 chroma (Co in
 *         red, Cg in green) at half the padded size, one value per 2x2 pixels.
 *   3:    plane 0 RGTC2, luma in red and alpha in green; plane 1 as for 2.
 * The padded size is the picture's rounded up to multiples of 16; the
 * picture is its top-left width x height texels. */
typedef struct Zemo3Frame {
    int64_t index;  /* frame number, from 0 */
    int64_t pts;    /* in the video stream's time base */
    double seconds; /* pts in seconds */
    uint32_t type;
    uint32_t planeCount; /* 1 or 2 */
    Zemo3Plane planes[2];
} Zemo3Frame;

typedef struct Zemo3Info {
    uint32_t width, height;             /* the picture */
    uint32_t paddedWidth, paddedHeight; /* the texture: multiples of 16 */
    int64_t frameCount;                 /* from the container's index; 0 when unknown */
    int frameRateNum, frameRateDen;     /* 0/1 when unknown */
    int timeBaseNum, timeBaseDen;       /* of the video stream */
    double duration;                    /* seconds, 0 when unknown */
    /* Sound: channels 0 when the movie has none. Samples are interleaved,
     * little-endian, as stored: signed integers of bytesPerSample bytes
     * (1: unsigned), or 32-bit floats when isFloat. */
    int channels;
    int sampleRate;
    int bytesPerSample;
    int isFloat;
    int64_t soundFrames; /* samples per channel in all, 0 when unknown */
} Zemo3Info;

/* Opens a movie. Null when it cannot be opened or holds no Zemo 3 video
 * stream, with the reason in error (errorSize bytes, may be null). */
Zemo3Movie* zemo3_open(const char* path, char* error, size_t errorSize);
void zemo3_close(Zemo3Movie* movie);
const Zemo3Info* zemo3_info(const Zemo3Movie* movie);

/* Results of the reads. */
#define ZEMO3_OK 1
#define ZEMO3_END 0
#define ZEMO3_DAMAGED (-1) /* the frame did not decode; the next read goes on after it */
#define ZEMO3_FAILED (-2)  /* reading the file failed; see zemo3_error */

/* The next frame in presentation order. */
int zemo3_next_frame(Zemo3Movie* movie, Zemo3Frame* frame);
/* Frame `index` (from 0); later zemo3_next_frame calls go on after it. */
int zemo3_read_frame(Zemo3Movie* movie, int64_t index, Zemo3Frame* frame);

/* Restoring straight into the caller's memory, such as a mapped pixel-buffer
 * object, so that a GPU player copies nothing:
 *  - zemo3_frame_bytes: the bytes a destination needs to hold the planes of
 *    any frame of the movie (every type; at most 5/4 of the padded size's
 *    pixel count).
 *  - The _into reads are zemo3_next_frame and zemo3_read_frame with the
 *    planes restored into destination (capacity bytes, owned by the caller
 *    before, during and after the call). The frame's planes point into it,
 *    plane 0 at its start and plane 1 right after plane 0. The library
 *    writes there only during the call and keeps no pointer to it after
 *    returning. The unpacker reads back blocks it has written, so memory
 *    the caller maps should be mapped for reading as well as writing.
 *  - A capacity below zemo3_frame_bytes fails the read with ZEMO3_FAILED
 *    before anything is read or written: the next read is still the same
 *    frame. On ZEMO3_DAMAGED the destination holds arbitrary bytes. */
size_t zemo3_frame_bytes(const Zemo3Movie* movie);
int zemo3_next_frame_into(Zemo3Movie* movie, Zemo3Frame* frame, void* destination, size_t capacity);
int zemo3_read_frame_into(Zemo3Movie* movie, int64_t index, Zemo3Frame* frame, void* destination, size_t capacity);

/* The threads a frame is restored on: 1, or 2 to restore the two streams of a
 * YCoCg frame (types 2 and 3) at once, the second on a worker thread of the
 * library's (the same bytes either way). 0 asks for the library's choice,
 * which is also the default: 2 when the machine has more than one processor,
 * else 1. Returns the number now in use. */
int zemo3_set_threads(Zemo3Movie* movie, int threads);
/* What went wrong in the last read, or "". */
const char* zemo3_error(const Zemo3Movie* movie);

/* Up to `frames` sound frames (one sample per channel) from sample frame
 * `first` into out (frames * channels * bytesPerSample bytes), as stored.
 * Returns the frames written: fewer at the end, 0 past it, -1 on failure. */
int64_t zemo3_read_sound(Zemo3Movie* movie, int64_t first, int64_t frames, void* out);

/* GLSL 3.30 core sources to draw a frame of a type: the vertex shader draws
 * a full-viewport quad from gl_VertexID (4 vertices, a triangle strip, no
 * buffers); the fragment shader samples "plane0" and "plane1" (texture units
 * of the caller's choice; the caller sets their textures to nearest filtering
 * without mipmaps), takes the uniform vec2 "scale" (picture size over padded
 * size) and writes straight (unpremultiplied) RGBA to "color". Null for an
 * unknown type. */
const char* zemo3_vertex_shader(void);
const char* zemo3_fragment_shader(uint32_t type);

#ifdef __cplusplus
}
#endif

#endif
