// The network library: whole frames to and from one patch server, events through a callback.
//
// Transport: one TCP connection; frames travel back to back exactly as their bytes are, delimited by
// their 16-bit length field. The library reads on its own thread, queues whole frames and raises
// one "frame ready" event per frame.
#pragma once
#include <cstdint>

constexpr unsigned ZONET_EVENT_FRAME_READY = 2;
constexpr unsigned ZONET_EVENT_CLOSED = 3;
constexpr unsigned ZONET_EVENT_CONNECT_FAILED = 5;
constexpr uint32_t ZONET_MAX_FRAME = 4096;

using ZoNetCallback = void (*)(unsigned event, void* context);

// Connects to host:port (5 s time-out). Non-zero when connected; on zero the failure arrives as
// event 5. May be called again without a shut-down; the earlier connection is then dropped.
int ZoNet_StartUp(void* context, const char* host, uint16_t port, ZoNetCallback callback);
// Sends one whole frame. Non-zero when it was handed to the connection. A frame that cannot be
// sent within the connect time-out (a peer that does not read) ends the connection: event 3.
int Send(const void* frame, uint32_t length);
// Moves the oldest queued frame into `buffer` (4096 bytes). Non-zero when a frame was delivered.
int Recv(void* buffer, uint32_t* size);
// From now on the connection's frames are read and thrown away, without an event: nothing the
// client still does depends on them. The connection stays open, and its end still raises event 3.
void ZoNet_IgnoreFrames();
// Ends the connection and the reader thread. Safe to call when nothing was started.
void ZoNet_ShutDown();
// Makes a connect or send in progress, and every later one until the shut-down, give up at once
// (the client is being cancelled). Any thread; returns at once.
void ZoNet_Abort();
