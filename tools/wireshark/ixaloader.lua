-- Wireshark dissector for IxaLoader's console protocol, both parts on one
-- port (the preference ixadisc.port, default 6600):
--   ixadisc   UDP: the loader's broadcast "Discovery request" and a console's
--             "Discovery reply", four bytes each; anything else is malformed.
--             On any other port a heuristic takes the two 4-byte messages
--             (and nothing else). Each reply names the request it answers
--             (the last one sent from the socket it is addressed to) and
--             the time it took.
--   ixaimage  TCP: the loader's "Image request", then the processor module,
--             gathered from the whole stream up to the console's FIN, and
--             no further than the loader's image limit: a stream that
--             reaches it is shown cut there and flagged too large
--             (ixaimage.too_large), one the capture misses bytes of is
--             flagged incomplete (ixaimage.incomplete).
-- Load it for one run with  tshark -X lua_script:ixaloader.lua  or
-- wireshark -X lua_script:ixaloader.lua, or for good by copying it into the
-- personal Lua plugins folder (Help > About > Folders).

local DISCOVERY_REQUEST = 0x83F8B523
local DISCOVERY_REPLY = 0x83F9B523
local IMAGE_REQUEST = 0xFAFA000A
-- The loader's image buffer (kImageBufferSize): an image that fills it is
-- refused, so no more of a stream is ever kept.
local IMAGE_LIMIT = 11534336

local VERSION = "1.2.0"

set_plugin_info({
  version = VERSION,
  description = "IxaLoader console discovery and image transfer",
})

local tcp_fin = Field.new("tcp.flags.fin")
local tcp_stream = Field.new("tcp.stream")
local tcp_seq = Field.new("tcp.seq")
local tcp_len = Field.new("tcp.len")

-- Discovery ------------------------------------------------------------------

local disc = Proto("ixadisc", "IxaLoader Console Discovery")
local disc_message = ProtoField.uint32("ixadisc.message", "Message", base.HEX,
  { [DISCOVERY_REQUEST] = "Discovery request", [DISCOVERY_REPLY] = "Discovery reply" })
local disc_data = ProtoField.bytes("ixadisc.data", "Data")
local disc_response_in = ProtoField.framenum("ixadisc.response_in", "Response in", base.NONE, frametype.RESPONSE)
local disc_response_to = ProtoField.framenum("ixadisc.response_to", "Response to", base.NONE, frametype.REQUEST)
local disc_time = ProtoField.relative_time("ixadisc.time", "Response time")
local disc_malformed = ProtoExpert.new("ixadisc.malformed", "Malformed discovery datagram",
  expert.group.MALFORMED, expert.severity.ERROR)
disc.fields = { disc_message, disc_data, disc_response_in, disc_response_to, disc_time }
disc.experts = { disc_malformed }
disc.prefs.port = Pref.uint("Port", 6600, "UDP and TCP port of console discovery and image transfer")

-- Request and reply matching, filled on the first pass over each frame:
-- the last request per sending socket (and per sending port alone: a
-- broadcast can leave from 0.0.0.0 while its reply comes back to the
-- host's address), each reply's request, and each request's first reply.
local last_request = {}
local last_request_from_port = {}
local request_of = {}
local reply_of = {}

function disc.init()
  last_request, last_request_from_port, request_of, reply_of = {}, {}, {}, {}
end

local function socket_key(address, port)
  return tostring(address) .. ":" .. port
end

local function link(value, pinfo, root)
  local frame = pinfo.number
  if not pinfo.visited then
    if value == DISCOVERY_REQUEST then
      local request = { frame = frame, time = pinfo.abs_ts }
      last_request[socket_key(pinfo.src, pinfo.src_port)] = request
      last_request_from_port[pinfo.src_port] = request
    else
      local request = last_request[socket_key(pinfo.dst, pinfo.dst_port)] or last_request_from_port[pinfo.dst_port]
      if request then
        request_of[frame] = request
        if not reply_of[request.frame] then reply_of[request.frame] = frame end
      end
    end
  end
  if value == DISCOVERY_REQUEST then
    if reply_of[frame] then root:add(disc_response_in, reply_of[frame]):set_generated() end
  else
    local request = request_of[frame]
    if request then
      root:add(disc_response_to, request.frame):set_generated()
      -- In whole microseconds, the resolution of most captures: the
      -- timestamps arrive as floating-point seconds.
      local microseconds = math.floor((pinfo.abs_ts - request.time) * 1e6 + 0.5)
      root:add(disc_time, NSTime(math.floor(microseconds / 1e6), (microseconds % 1e6) * 1000)):set_generated()
    end
  end
end

function disc.dissector(tvb, pinfo, tree)
  pinfo.cols.protocol = "IXADISC"
  local root = tree:add(disc, tvb())
  local length = tvb:len()
  local value = length == 4 and tvb(0, 4):uint() or nil
  if value == DISCOVERY_REQUEST or value == DISCOVERY_REPLY then
    root:add(disc_message, tvb(0, 4))
    pinfo.cols.info = value == DISCOVERY_REQUEST and "Discovery request" or "Discovery reply"
    link(value, pinfo, root)
  else
    if length > 0 then root:add(disc_data, tvb()) end
    root:add_proto_expert_info(disc_malformed, string.format("Malformed discovery datagram (%d bytes)", length))
    pinfo.cols.info = string.format("Malformed discovery datagram (%d bytes)", length)
  end
  return length
end

-- Image transfer ---------------------------------------------------------------

local image = Proto("ixaimage", "IxaLoader Image Transfer")
local image_request = ProtoField.uint32("ixaimage.request", "Image request", base.HEX)
local image_data = ProtoField.bytes("ixaimage.image", "Image")
local image_length = ProtoField.uint32("ixaimage.length", "Image length", base.DEC)
local image_malformed = ProtoExpert.new("ixaimage.malformed", "Malformed image request",
  expert.group.MALFORMED, expert.severity.ERROR)
local image_too_large = ProtoExpert.new("ixaimage.too_large", "Image too large: the loader refuses it",
  expert.group.PROTOCOL, expert.severity.ERROR)
local image_incomplete = ProtoExpert.new("ixaimage.incomplete", "Image incomplete: the capture misses some of it",
  expert.group.SEQUENCE, expert.severity.WARN)
image.fields = { image_request, image_data, image_length }
image.experts = { image_malformed, image_too_large, image_incomplete }

-- The loader's side: four bytes, once.
local function dissect_request(tvb, pinfo, tree)
  if tvb:len() < 4 then
    pinfo.desegment_offset = 0
    pinfo.desegment_len = 4 - tvb:len()
    return
  end
  pinfo.cols.protocol = "IXAIMAGE"
  local root = tree:add(image, tvb())
  if tvb:len() == 4 and tvb(0, 4):uint() == IMAGE_REQUEST then
    root:add(image_request, tvb(0, 4))
    pinfo.cols.info = "Image request"
  else
    root:add_proto_expert_info(image_malformed, string.format("Malformed image request (%d bytes)", tvb:len()))
    pinfo.cols.info = string.format("Malformed image request (%d bytes)", tvb:len())
  end
  return tvb:len()
end

-- The console's side: the module file, ended by the console closing. Its
-- bytes are gathered here, not by TCP's reassembly: asked to wait for the
-- FIN, that would hold a stream that never ends without limit. Filled on the
-- first pass: per TCP stream the image being gathered (false once it ended),
-- and per frame the image that ends in it.
local gathering = {}
local ended = {}

function image.init()
  gathering, ended = {}, {}
end

local function finish(stream, frame, mark)
  ended[frame] = { bytes = ByteArray.new(table.concat(gathering[stream].pieces), true), mark = mark }
  gathering[stream] = false
end

-- Where a sequence number lies in the image.
local function image_offset(gathered, seq)
  return (seq - gathered.start) % 2^32
end

-- Takes a segment's new bytes in stream order, up to the limit. By default
-- TCP passes on no segment it marks as retransmitted or out of order, so
-- bytes past a gap cannot join the image: it stops growing there.
local function gather(tvb, pinfo)
  local stream = tcp_stream().value
  local gathered = gathering[stream]
  if gathered == false then return end
  if not gathered then
    gathered = { start = tcp_seq().value, length = 0, pieces = {} }
    gathering[stream] = gathered
  end
  local known = gathered.length - image_offset(gathered, tcp_seq().value)
  if known < 0 then gathered.gap = true end
  if gathered.gap or known >= tvb:len() then return end
  local piece = tvb:raw(known, math.min(tvb:len() - known, IMAGE_LIMIT - gathered.length))
  gathered.pieces[#gathered.pieces + 1] = piece
  gathered.length = gathered.length + #piece
  if gathered.length == IMAGE_LIMIT then finish(stream, pinfo.number, "too_large") end
end

local function dissect_image(tvb, pinfo)
  if not pinfo.visited then gather(tvb, pinfo) end
  return tvb:len()
end

-- Every frame, after the other dissectors: the console's FIN ends its image
-- (a FIN without data reaches no TCP port's dissector), which then shows in
-- that frame.
local image_end = Proto("ixaimage_end", "IxaLoader Image End")

local function image_ends(pinfo)
  if pinfo.visited or pinfo.src_port ~= disc.prefs.port then return end
  local fin, stream = tcp_fin(), tcp_stream()
  if not (fin and fin.value and stream) then return end
  local gathered = gathering[stream.value]
  if not gathered then return end
  local whole = not gathered.gap and image_offset(gathered, tcp_seq().value + tcp_len().value) == gathered.length
  finish(stream.value, pinfo.number, not whole and "incomplete" or nil)
end

function image_end.dissector(tvb, pinfo, tree)
  image_ends(pinfo)
  local shown = ended[pinfo.number]
  if not shown then return end
  local bytes = shown.bytes:tvb("Image")
  pinfo.cols.protocol = "IXAIMAGE"
  local root = tree:add(image, bytes())
  if bytes:len() > 0 then root:add(image_data, bytes()) end
  root:add(image_length, bytes:len()):set_generated()
  local info = string.format("Image, %d bytes", bytes:len())
  if shown.mark == "too_large" then
    root:add_proto_expert_info(image_too_large,
      string.format("Image reaches the loader's limit of %d bytes: the rest is not kept", IMAGE_LIMIT))
    info = info .. ", cut at the loader's limit"
  elseif shown.mark == "incomplete" then
    root:add_proto_expert_info(image_incomplete)
    info = info .. ", bytes missing from the capture"
  end
  pinfo.cols.info = info
end

register_postdissector(image_end)

function image.dissector(tvb, pinfo, tree)
  local port = disc.prefs.port
  if pinfo.dst_port == port then return dissect_request(tvb, pinfo, tree) end
  if pinfo.src_port == port then return dissect_image(tvb, pinfo) end
  return 0
end

-- Registration on the port ------------------------------------------------------

local registered_port

local function register(port)
  local udp, tcp = DissectorTable.get("udp.port"), DissectorTable.get("tcp.port")
  if registered_port then
    udp:remove(registered_port, disc)
    tcp:remove(registered_port, image)
  end
  udp:add(port, disc)
  tcp:add(port, image)
  registered_port = port
end

function disc.prefs_changed()
  if disc.prefs.port ~= registered_port then register(disc.prefs.port) end
end

register(disc.prefs.port)

-- Any other port: only the two exact 4-byte messages, so that no other
-- protocol's datagrams are taken.
disc:register_heuristic("udp", function(tvb, pinfo, tree)
  if tvb:len() ~= 4 then return false end
  local value = tvb(0, 4):uint()
  if value ~= DISCOVERY_REQUEST and value ~= DISCOVERY_REPLY then return false end
  disc.dissector(tvb, pinfo, tree)
  return true
end)
