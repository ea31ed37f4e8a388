// The entry points the engine resolves from each codec library, one line each.
//
// Each list is an X-macro: X(name) for every function the engine calls through
// the binding table, in the order they are resolved. The table's member types
// come from the libraries' own headers (decltype of the declaration), so a call
// through the table is type-checked exactly like a direct call. Adding an entry
// point later is one line in the list of its library.
#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavcodec/bsf.h>
#include <libavdevice/avdevice.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/avstring.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/fifo.h>
#include <libavutil/frame.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
#include <libavutil/mem.h>
#include <libavutil/opt.h>
#include <libavutil/parseutils.h>
#include <libavutil/pixdesc.h>
#include <libavutil/samplefmt.h>
#include <libavutil/time.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#define CLIPMORA_AVCODEC_ENTRIES(X)   \
    X(avcodec_version)                \
    X(avcodec_find_encoder_by_name)   \
    X(avcodec_find_decoder_by_name)   \
    X(avcodec_find_encoder)           \
    X(avcodec_find_decoder)           \
    X(avcodec_alloc_context3)         \
    X(avcodec_free_context)           \
    X(avcodec_open2)                  \
    X(avcodec_parameters_alloc)       \
    X(avcodec_parameters_free)        \
    X(avcodec_parameters_copy)        \
    X(avcodec_parameters_to_context)  \
    X(avcodec_parameters_from_context)\
    X(avcodec_send_packet)            \
    X(avcodec_receive_frame)          \
    X(avcodec_send_frame)             \
    X(avcodec_receive_packet)         \
    X(avcodec_flush_buffers)          \
    X(avcodec_decode_subtitle2)       \
    X(avcodec_encode_subtitle)        \
    X(avsubtitle_free)                \
    X(avcodec_get_name)               \
    X(avcodec_get_type)               \
    X(avcodec_get_class)              \
    X(avcodec_descriptor_get)         \
    X(avcodec_string)                 \
    X(av_codec_iterate)               \
    X(av_codec_is_encoder)            \
    X(av_codec_is_decoder)            \
    X(av_packet_alloc)                \
    X(av_packet_free)                 \
    X(av_packet_ref)                  \
    X(av_packet_unref)                \
    X(av_packet_copy_props)           \
    X(av_packet_move_ref)             \
    X(av_packet_rescale_ts)           \
    X(av_new_packet)                  \
    X(av_packet_get_side_data)        \
    X(av_bsf_get_by_name)             \
    X(av_bsf_alloc)                   \
    X(av_bsf_init)                    \
    X(av_bsf_send_packet)             \
    X(av_bsf_receive_packet)          \
    X(av_bsf_free)                    \
    X(av_get_pcm_codec)

#define CLIPMORA_AVFORMAT_ENTRIES(X)  \
    X(avformat_version)               \
    X(avformat_alloc_context)         \
    X(avformat_free_context)          \
    X(avformat_open_input)            \
    X(avformat_close_input)           \
    X(avformat_find_stream_info)      \
    X(avformat_alloc_output_context2) \
    X(avformat_new_stream)            \
    X(av_stream_new_side_data)        \
    X(avformat_write_header)          \
    X(avformat_query_codec)           \
    X(avformat_get_class)             \
    X(av_find_input_format)           \
    X(av_guess_format)                \
    X(av_guess_codec)                 \
    X(av_codec_get_id)                \
    X(av_codec_get_tag)               \
    X(av_filename_number_test)        \
    X(av_read_frame)                  \
    X(av_seek_frame)                  \
    X(avformat_seek_file)             \
    X(av_write_trailer)               \
    X(av_interleaved_write_frame)     \
    X(av_write_frame)                 \
    X(av_dump_format)                 \
    X(av_pkt_dump_log2)               \
    X(av_sdp_create)                  \
    X(avio_open)                      \
    X(avio_open2)                     \
    X(avio_find_protocol_name)        \
    X(avio_closep)                    \
    X(avio_size)                      \
    X(avio_seek)                      \
    X(avio_flush)

#define CLIPMORA_AVUTIL_ENTRIES(X)    \
    X(avutil_version)                 \
    X(av_log)                         \
    X(av_vlog)                        \
    X(av_log_set_callback)            \
    X(av_log_default_callback)        \
    X(av_log_get_level)               \
    X(av_log_set_level)               \
    X(av_default_item_name)           \
    X(av_strerror)                    \
    X(av_strlcpy)                     \
    X(av_strdup)                      \
    X(av_malloc)                      \
    X(av_mallocz)                     \
    X(av_realloc)                     \
    X(av_free)                        \
    X(av_freep)                       \
    X(av_reduce)                      \
    X(av_d2q)                         \
    X(av_gcd)                         \
    X(av_rescale)                     \
    X(av_rescale_q)                   \
    X(av_rescale_q_rnd)               \
    X(av_compare_ts)                  \
    X(av_gettime)                     \
    X(av_dict_get)                    \
    X(av_dict_set)                    \
    X(av_dict_copy)                   \
    X(av_dict_free)                   \
    X(av_opt_find)                    \
    X(av_opt_set)                     \
    X(av_opt_set_int)                 \
    X(av_opt_set_double)              \
    X(av_opt_set_q)                   \
    X(av_opt_get)                     \
    X(av_opt_get_int)                 \
    X(av_frame_alloc)                 \
    X(av_frame_free)                  \
    X(av_frame_unref)                 \
    X(av_frame_ref)                   \
    X(av_frame_move_ref)              \
    X(av_frame_get_buffer)            \
    X(av_frame_make_writable)         \
    X(av_frame_apply_cropping)        \
    X(av_audio_fifo_alloc)            \
    X(av_audio_fifo_free)             \
    X(av_audio_fifo_write)            \
    X(av_audio_fifo_read)             \
    X(av_audio_fifo_size)             \
    X(av_image_alloc)                 \
    X(av_image_fill_arrays)           \
    X(av_image_copy)                  \
    X(av_image_copy_plane)            \
    X(av_image_get_buffer_size)       \
    X(av_image_copy_to_buffer)        \
    X(av_write_image_line2)           \
    X(av_get_pix_fmt)                 \
    X(av_get_pix_fmt_name)            \
    X(av_pix_fmt_desc_get)            \
    X(av_get_sample_fmt)              \
    X(av_get_sample_fmt_name)         \
    X(av_get_bytes_per_sample)        \
    X(av_sample_fmt_is_planar)        \
    X(av_samples_get_buffer_size)     \
    X(av_samples_alloc)               \
    X(av_channel_layout_default)      \
    X(av_channel_layout_copy)         \
    X(av_channel_layout_uninit)       \
    X(av_fifo_alloc2)                 \
    X(av_fifo_freep2)                 \
    X(av_fifo_write)                  \
    X(av_fifo_read)                   \
    X(av_fifo_can_read)               \
    X(av_parse_video_size)            \
    X(av_parse_video_rate)            \
    X(av_parse_time)                  \
    X(av_parse_color)                 \
    X(av_get_picture_type_char)

#define CLIPMORA_SWSCALE_ENTRIES(X)   \
    X(sws_scale)                      \
    X(sws_getContext)                 \
    X(sws_freeContext)                \
    X(sws_getCachedContext)           \
    X(swscale_version)

#define CLIPMORA_SWRESAMPLE_ENTRIES(X)\
    X(swr_alloc_set_opts2)            \
    X(swr_init)                       \
    X(swr_free)                       \
    X(swr_convert)                    \
    X(swr_get_delay)                  \
    X(swr_set_compensation)           \
    X(swresample_version)

#define CLIPMORA_AVFILTER_ENTRIES(X)  \
    X(avfilter_get_by_name)           \
    X(avfilter_graph_alloc)           \
    X(avfilter_graph_free)            \
    X(avfilter_graph_create_filter)   \
    X(avfilter_graph_parse_ptr)       \
    X(avfilter_graph_config)          \
    X(avfilter_link)                  \
    X(avfilter_inout_alloc)           \
    X(avfilter_inout_free)            \
    X(av_buffersrc_add_frame_flags)   \
    X(av_buffersink_get_frame)        \
    X(av_buffersink_get_time_base)    \
    X(av_buffersink_get_format)       \
    X(av_buffersink_get_frame_rate)   \
    X(av_buffersink_get_w)            \
    X(av_buffersink_get_h)            \
    X(av_buffersink_get_sample_aspect_ratio) \
    X(av_buffersink_get_sample_rate)  \
    X(av_buffersink_get_ch_layout)    \
    X(avfilter_pad_get_type)          \
    X(avfilter_version)

#define CLIPMORA_AVDEVICE_ENTRIES(X)  \
    X(avdevice_register_all)          \
    X(avdevice_version)
