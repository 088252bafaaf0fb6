-- SPDX-License-Identifier: GPL-3.0-or-later
-- Wireshark / tshark dissector for Lumo's session captures.
--
-- A capture is a pcap file with link type USER0 (147). Each packet is one
-- piece of one direction of the serial line between an MCU and its Wi-Fi
-- module: a pseudo-header, then the bytes exactly as they crossed the line.
--
--   byte 0      format version (1)
--   byte 1      direction: 0 MCU -> module, 1 module -> MCU
--   byte 2      kind: 0 v4 frame, 1 v3 frame, 2 other bytes, 3 line event
--   byte 3      length n of the port name
--   4 .. 4+n-1  the port name, UTF-8
--   then        the wire bytes, or for a line event four bytes: what
--               (1 RTS, 2 DTR, 3 break), the state (1 on, 0 off), and a
--               break's duration in milliseconds (2 bytes, big-endian)
--
-- A v4 frame on the wire: FF FF, a 2-byte big-endian length (bytes from the
-- command through the checksum), command, sequence number, 2 flag bytes,
-- payload, checksum (sum mod 256 of the bytes from the first length byte up
-- to the one before the checksum). From the second length byte on, every FF
-- is followed by an inserted 55; the length and the checksum describe the
-- frame without those. A v3 frame is 00 00 00 03, a 2-byte length, then that
-- many bytes.
--
-- Use: wireshark -X lua_script:/path/to/lumo.lua capture.pcap
-- or copy this file into the personal Lua plugins folder
-- (~/.local/lib/wireshark/plugins/ on Linux).

local lumo = Proto("lumo", "Lumo serial line")

local directions = { [0] = "MCU -> module", [1] = "module -> MCU" }
local kinds = { [0] = "v4 frame", [1] = "v3 frame", [2] = "other bytes", [3] = "line event" }
local event_codes = { [1] = "RTS", [2] = "DTR", [3] = "break" }

local commands = {
    [0x01] = "请求设备信息",
    [0x02] = "回复设备信息",
    [0x03] = "控制或查询状态",
    [0x04] = "控制或查询的应答",
    [0x05] = "上报设备状态",
    [0x06] = "状态上报的应答",
    [0x07] = "心跳",
    [0x08] = "心跳应答",
    [0x09] = "请求进入配置模式",
    [0x0A] = "配置模式请求的应答",
    [0x0B] = "请求重置模组",
    [0x0C] = "重置请求的应答",
    [0x0D] = "推送Wi-Fi状态",
    [0x0E] = "Wi-Fi状态的应答",
    [0x0F] = "请求重启MCU",
    [0x10] = "重启请求的应答",
    [0x11] = "通知收到非法报文",
    [0x12] = "非法报文通知的应答",
    [0x13] = "请求进入产测模式",
    [0x14] = "产测模式请求的应答",
    [0x15] = "请求进入可绑定模式",
    [0x16] = "可绑定模式请求的应答",
    [0x17] = "请求网络时间",
    [0x18] = "回复网络时间",
    [0x19] = "开始固件传输",
    [0x1A] = "固件传输通知的应答",
    [0x1B] = "已准备好接收固件",
    [0x1C] = "固件就绪的应答",
    [0x1D] = "下发固件分片",
    [0x1E] = "固件分片的应答",
    [0x1F] = "固件传输结束",
    [0x20] = "固件传输结束的应答",
}

-- The names the program itself gives the Wi-Fi status word's states.
local connections = {
    [0x00] = "未连接路由器",
    [0x01] = "已连接路由器，尚未连接云端",
    [0x02] = "已连接路由器和云端，设备在线",
}
local wifi_modes = {
    [0x00] = "空闲：未开启热点，也未连接路由器",
    [0x01] = "Station模式：模组作为终端连接路由器",
    [0x02] = "SoftAP模式：模组开启热点等待配网",
    [0x03] = "AirLink模式：模组正在监听配网信息",
}
for v = 0x03, 0x0F do
    connections[v] = string.format("保留值0x%02X：模组上报了未定义的连接状态", v)
end
for v = 0x04, 0x0F do
    wifi_modes[v] = string.format("保留值0x%02X：模组上报了未定义的Wi-Fi模式", v)
end
local app_connected = { "有App连接设备，可以控制和查看状态", "没有App连接设备" }

local actions = {
    [0x01] = "control",
    [0x02] = "read status",
    [0x03] = "status answer",
    [0x04] = "status report",
}

local f = {
    version = ProtoField.uint8("lumo.version", "Format version", base.DEC),
    direction = ProtoField.uint8("lumo.direction", "Direction", base.DEC, directions),
    kind = ProtoField.uint8("lumo.kind", "Kind", base.DEC, kinds),
    port_length = ProtoField.uint8("lumo.port_length", "Port name length", base.DEC),
    port = ProtoField.string("lumo.port", "Port"),
    wire = ProtoField.bytes("lumo.wire", "Wire bytes"),

    header = ProtoField.uint16("lumo.header", "Header", base.HEX),
    length = ProtoField.uint16("lumo.length", "Length", base.DEC),
    command = ProtoField.uint8("lumo.command", "Command", base.HEX, commands),
    sequence = ProtoField.uint8("lumo.sequence", "Sequence number", base.DEC),
    flags = ProtoField.uint16("lumo.flags", "Flags", base.HEX),
    payload = ProtoField.bytes("lumo.payload", "Payload"),
    checksum = ProtoField.uint8("lumo.checksum", "Checksum", base.HEX),
    checksum_computed = ProtoField.uint8("lumo.checksum.computed", "Computed checksum", base.HEX),
    checksum_good = ProtoField.bool("lumo.checksum.good", "Checksum good"),
    escapes = ProtoField.uint16("lumo.escapes", "Escaped FF bytes", base.DEC),

    action = ProtoField.uint8("lumo.action", "Action", base.HEX, actions),
    status = ProtoField.bytes("lumo.status", "Data-point status"),

    wifi_word = ProtoField.uint16("lumo.wifi", "Wi-Fi status word", base.HEX),
    wifi_signal = ProtoField.uint8("lumo.wifi.signal", "Signal strength", base.DEC, nil, 0x07),
    wifi_app = ProtoField.bool("lumo.wifi.app", "App connected", 8, app_connected, 0x08),
    wifi_connection = ProtoField.uint8("lumo.wifi.connection", "Connection state", base.HEX,
        connections, 0xF0),
    wifi_mode = ProtoField.uint8("lumo.wifi.mode", "Wi-Fi mode state", base.HEX, wifi_modes, 0x0F),

    config_mode = ProtoField.uint8("lumo.config_mode", "Configuration mode", base.HEX,
        { [1] = "SoftAP", [2] = "AirLink" }),

    time_year = ProtoField.uint16("lumo.time.year", "Year", base.DEC),
    time_month = ProtoField.uint8("lumo.time.month", "Month", base.DEC),
    time_day = ProtoField.uint8("lumo.time.day", "Day", base.DEC),
    time_hour = ProtoField.uint8("lumo.time.hour", "Hour", base.DEC),
    time_minute = ProtoField.uint8("lumo.time.minute", "Minute", base.DEC),
    time_second = ProtoField.uint8("lumo.time.second", "Second", base.DEC),

    protocol_versions = ProtoField.bytes("lumo.info.protocol", "Protocol versions"),
    hard_version = ProtoField.string("lumo.info.hardware", "Hardware version"),
    soft_version = ProtoField.string("lumo.info.software", "Software version"),
    product_key = ProtoField.string("lumo.info.product_key", "Product key"),
    binding_time = ProtoField.uint16("lumo.info.binding_time", "Binding time", base.DEC),
    attributes = ProtoField.bytes("lumo.info.attributes", "Device attributes"),

    fw_count = ProtoField.uint16("lumo.firmware.count", "Firmware field length", base.DEC),
    fw_field = ProtoField.bytes("lumo.firmware.field", "Firmware field"),
    fw_hex = ProtoField.uint8("lumo.firmware.type", "Transfer type", base.HEX,
        { [0] = "bin", [1] = "hex" }),
    fw_piece_size = ProtoField.uint16("lumo.firmware.piece_size", "Piece size", base.DEC),
    fw_piece = ProtoField.uint16("lumo.firmware.piece", "Piece number", base.DEC),
    fw_reserved = ProtoField.uint16("lumo.firmware.reserved", "Reserved", base.HEX),
    fw_data = ProtoField.bytes("lumo.firmware.data", "Piece data"),

    v3_header = ProtoField.uint32("lumo.v3.header", "v3 header", base.HEX),
    v3_length = ProtoField.uint16("lumo.v3.length", "v3 length", base.DEC),
    v3_body = ProtoField.bytes("lumo.v3.body", "v3 body"),

    text = ProtoField.string("lumo.text", "Text"),

    event = ProtoField.uint8("lumo.event", "Line event", base.DEC, event_codes),
    event_state = ProtoField.bool("lumo.event.on", "On"),
    event_duration = ProtoField.uint16("lumo.event.duration", "Break duration (ms)", base.DEC),

    response_in = ProtoField.framenum("lumo.response_in", "Response in", base.NONE,
        frametype.RESPONSE),
    response_to = ProtoField.framenum("lumo.response_to", "Request in", base.NONE,
        frametype.REQUEST),
    response_time = ProtoField.relative_time("lumo.response_time", "Response time"),
}

local field_list = {}
for _, field in pairs(f) do
    table.insert(field_list, field)
end
lumo.fields = field_list

local ef_checksum = ProtoExpert.new("lumo.expert.checksum", "Wrong checksum",
    expert.group.CHECKSUM, expert.severity.ERROR)
local ef_truncated = ProtoExpert.new("lumo.expert.truncated",
    "Length field disagrees with the bytes (truncated frame)", expert.group.MALFORMED,
    expert.severity.ERROR)
local ef_unescaped = ProtoExpert.new("lumo.expert.unescaped", "FF not followed by 55",
    expert.group.PROTOCOL, expert.severity.WARN)
local ef_header = ProtoExpert.new("lumo.expert.header", "Pseudo-header not understood",
    expert.group.MALFORMED, expert.severity.ERROR)
local ef_no_response = ProtoExpert.new("lumo.expert.no_response", "No response seen",
    expert.group.SEQUENCE, expert.severity.NOTE)
local ef_late_response = ProtoExpert.new("lumo.expert.late_response",
    "Response later than the reply limit", expert.group.SEQUENCE, expert.severity.NOTE)
local ef_unexpected = ProtoExpert.new("lumo.expert.unexpected_response",
    "Response to no request", expert.group.SEQUENCE, expert.severity.WARN)
lumo.experts = { ef_checksum, ef_truncated, ef_unescaped, ef_header, ef_no_response,
    ef_late_response, ef_unexpected }

lumo.prefs.reply_limit = Pref.uint("Reply limit (ms)", 200,
    "A request not answered within this time is marked as having no response")

-- Requests and responses, linked as the program's analyzer links them.
-- Requests are the odd codes 01..1F, whichever side sends them; a response
-- carries the request's code + 1 and its sequence number and comes the other
-- way. It answers the latest such request that has no response yet, up to
-- ten reply limits later (beyond that the number has come round again).
-- Wireshark shows the frames first in order (pinfo.visited false) and later
-- in any order, so the links are made in that first pass and kept by frame
-- number; init forgets them whenever the capture is dissected anew.
local requests = {}    -- frame number of a request -> its link
local responses = {}   -- frame number of a response -> the request's link, or false
local latest = {}      -- direction, code and sequence -> the latest request's link

function lumo.init()
    requests, responses, latest = {}, {}, {}
end

local function slot(direction, cmd, seq)
    return (direction * 256 + cmd) * 256 + seq
end

local function microseconds(pinfo)
    return math.floor(pinfo.abs_ts * 1000000 + 0.5)
end

local function link_first_pass(pinfo, direction, cmd, seq)
    local number = pinfo.number
    -- A frame shown again before the first pass ends keeps its first links.
    if requests[number] ~= nil or responses[number] ~= nil then return end
    if cmd >= 0x01 and cmd <= 0x1F and cmd % 2 == 1 then
        local link = { request = number, time = microseconds(pinfo) }
        requests[number] = link
        latest[slot(direction, cmd, seq)] = link
    elseif cmd >= 0x02 and cmd <= 0x20 and cmd % 2 == 0 then
        local link = latest[slot(1 - direction, cmd - 1, seq)]
        local latency = link and microseconds(pinfo) - link.time
        if link == nil or link.response ~= nil
            or latency > lumo.prefs.reply_limit * 1000 * 10 then
            responses[number] = false
            return
        end
        link.response = number
        link.latency = latency
        responses[number] = link
    end
end

local function relative_time(us)
    local seconds = math.floor(us / 1000000)
    return NSTime.new(seconds, (us - seconds * 1000000) * 1000)
end

local function show_links(pinfo, tree, direction, cmd, seq)
    if not pinfo.visited then link_first_pass(pinfo, direction, cmd, seq) end
    local number = pinfo.number
    local request = requests[number]
    if request ~= nil then
        if request.response ~= nil then
            tree:add(f.response_in, request.response):set_generated()
            if request.latency > lumo.prefs.reply_limit * 1000 then
                tree:add_proto_expert_info(ef_late_response)
            end
        elseif pinfo.visited then
            -- Only once every frame has been seen is a missing response known.
            tree:add_proto_expert_info(ef_no_response)
        end
        return
    end
    local response = responses[number]
    if response then
        tree:add(f.response_to, response.request):set_generated()
        tree:add(f.response_time, relative_time(response.latency)):set_generated()
    elseif response == false then
        tree:add_proto_expert_info(ef_unexpected)
    end
end

-- Undoes the FF 55 escaping from offset 3 on. Returns the unescaped bytes,
-- the number of escapes removed and the number of FFs found without their 55.
local function unescape(wire)
    local out = ByteArray.new()
    local n = wire:len()
    local escapes, bare = 0, 0
    out:set_size(n)
    local size = 0
    local i = 0
    while i < n do
        local b = wire:get_index(i)
        out:set_index(size, b)
        size = size + 1
        if b == 0xFF and i >= 3 then
            if i + 1 < n and wire:get_index(i + 1) == 0x55 then
                escapes = escapes + 1
                i = i + 1
            elseif i + 1 < n then
                bare = bare + 1
            end
        end
        i = i + 1
    end
    out:set_size(size)
    return out, escapes, bare
end

local function dissect_payload(cmd, frame, last, tree)
    -- `last` is the offset of the checksum byte; the payload is 8 .. last-1.
    local function has(offset, width)
        return offset + width <= last
    end
    if (cmd == 0x03 or cmd == 0x04 or cmd == 0x05) and has(8, 1) then
        tree:add(f.action, frame(8, 1))
        if has(9, 1) and frame(8, 1):uint() ~= 0x01 and frame(8, 1):uint() ~= 0x02 then
            tree:add(f.status, frame(9, last - 9))
        end
    elseif cmd == 0x0D and has(8, 2) then
        local word = tree:add(f.wifi_word, frame(8, 2))
        word:add(f.wifi_signal, frame(8, 1))
        word:add(f.wifi_app, frame(8, 1))
        word:add(f.wifi_connection, frame(9, 1))
        word:add(f.wifi_mode, frame(9, 1))
    elseif cmd == 0x09 and has(8, 1) then
        tree:add(f.config_mode, frame(8, 1))
    elseif cmd == 0x18 and has(8, 7) then
        tree:add(f.time_year, frame(8, 2))
        tree:add(f.time_month, frame(10, 1))
        tree:add(f.time_day, frame(11, 1))
        tree:add(f.time_hour, frame(12, 1))
        tree:add(f.time_minute, frame(13, 1))
        tree:add(f.time_second, frame(14, 1))
    elseif cmd == 0x02 then
        if has(8, 16) then tree:add(f.protocol_versions, frame(8, 16)) end
        if has(24, 8) then tree:add(f.hard_version, frame(24, 8)) end
        if has(32, 8) then tree:add(f.soft_version, frame(32, 8)) end
        if has(40, 32) then tree:add(f.product_key, frame(40, 32)) end
        if has(72, 2) then tree:add(f.binding_time, frame(72, 2)) end
        if has(74, 8) then tree:add(f.attributes, frame(74, 8)) end
    elseif cmd == 0x19 and has(12, 2) then
        tree:add(f.fw_count, frame(12, 2))
        local count = frame(12, 2):uint()
        local width = math.min(count, last - 14)
        if width > 0 then tree:add(f.fw_field, frame(14, width)) end
    elseif cmd == 0x1B and has(8, 2) then
        tree:add(f.fw_hex, frame(7, 1))
        tree:add(f.fw_piece_size, frame(last - 2, 2))
    elseif cmd == 0x1D and has(8, 2) then
        tree:add(f.fw_piece, frame(8, 2))
        -- Two reserved bytes between the piece number and the data.
        if has(10, 2) then tree:add(f.fw_reserved, frame(10, 2)) end
        if has(12, 1) then tree:add(f.fw_data, frame(12, last - 12)) end
    end
end

local function dissect_v4(wire_range, pinfo, tree, info, direction)
    local unescaped, escapes, bare = unescape(wire_range:bytes())
    local frame = unescaped:tvb("Unescaped frame")
    local size = frame:len()
    local item = tree:add(lumo, frame(), "v4 frame")
    if escapes > 0 then item:add(f.escapes, escapes) end
    if bare > 0 then item:add_proto_expert_info(ef_unescaped) end
    if size >= 2 then item:add(f.header, frame(0, 2)) end
    if size < 4 then
        item:add_proto_expert_info(ef_truncated)
        return info .. " truncated v4 frame"
    end
    item:add(f.length, frame(2, 2))
    local length = frame(2, 2):uint()
    if size ~= length + 4 then item:add_proto_expert_info(ef_truncated) end
    if size >= 5 then
        item:add(f.command, frame(4, 1))
        local cmd = frame(4, 1):uint()
        info = info .. string.format(" %02X %s", cmd, commands[cmd] or "?")
    end
    if size >= 6 then
        item:add(f.sequence, frame(5, 1))
        info = info .. string.format(" seq=%d", frame(5, 1):uint())
        show_links(pinfo, item, direction, frame(4, 1):uint(), frame(5, 1):uint())
    end
    if size >= 8 then item:add(f.flags, frame(6, 2)) end
    if size >= 9 then
        local last = size - 1
        if last > 8 then
            item:add(f.payload, frame(8, last - 8))
            dissect_payload(frame(4, 1):uint(), frame, last, item)
        end
        local sum = 0
        for i = 2, last - 1 do
            sum = (sum + frame(i, 1):uint()) % 256
        end
        local stored = frame(last, 1):uint()
        local check = item:add(f.checksum, frame(last, 1))
        item:add(f.checksum_computed, sum):set_generated()
        item:add(f.checksum_good, sum == stored):set_generated()
        if sum ~= stored then
            check:add_proto_expert_info(ef_checksum)
            info = info .. " [bad checksum]"
        end
    end
    if size ~= length + 4 then info = info .. " [truncated]" end
    return info
end

local function dissect_v3(wire, tree, info)
    local item = tree:add(lumo, wire(), "v3 frame")
    if wire:len() >= 4 then item:add(f.v3_header, wire(0, 4)) end
    if wire:len() >= 6 then
        item:add(f.v3_length, wire(4, 2))
        if wire:len() > 6 then item:add(f.v3_body, wire(6)) end
        if wire:len() ~= 6 + wire(4, 2):uint() then item:add_proto_expert_info(ef_truncated) end
    end
    return info .. " v3 frame"
end

-- What the program did to the line: not bytes of the line, never a frame.
local function dissect_event(wire, tree, info)
    local item = tree:add(lumo, wire(), "Line event")
    if wire:len() < 4 then
        item:add_proto_expert_info(ef_header)
        return info .. " line event (too short)"
    end
    local code = wire(0, 1):uint()
    item:add(f.event, wire(0, 1))
    local name = event_codes[code] or string.format("event %d", code)
    if code == 3 then
        item:add(f.event_duration, wire(2, 2))
        return info .. string.format(" %s %d ms", name, wire(2, 2):uint())
    end
    item:add(f.event_state, wire(1, 1), wire(1, 1):uint() ~= 0)
    return info .. " " .. name .. (wire(1, 1):uint() ~= 0 and " on" or " off")
end

local function printable(wire)
    local s = wire:raw():gsub("[\r\n]+$", "")
    local shown = s:gsub("[%c\128-\255]", ".")
    return shown
end

function lumo.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "LUMO"
    local root = tree:add(lumo, tvb(), "Lumo serial line")
    if tvb:len() < 4 or tvb(0, 1):uint() ~= 1 or tvb(1, 1):uint() > 1 or tvb(2, 1):uint() > 3
        or 4 + tvb(3, 1):uint() > tvb:len() then
        root:add_proto_expert_info(ef_header)
        pinfo.cols.info = "not a Lumo packet"
        return
    end
    root:add(f.version, tvb(0, 1))
    root:add(f.direction, tvb(1, 1))
    root:add(f.kind, tvb(2, 1))
    root:add(f.port_length, tvb(3, 1))
    local n = tvb(3, 1):uint()
    local port = ""
    if n > 0 then
        root:add_packet_field(f.port, tvb(4, n), ENC_UTF_8)
        port = tvb(4, n):string(ENC_UTF_8)
    end
    local direction = tvb(1, 1):uint()
    local kind = tvb(2, 1):uint()
    pinfo.cols.src = direction == 0 and "MCU" or "module"
    pinfo.cols.dst = direction == 0 and "module" or "MCU"
    local info = directions[direction]
    if port ~= "" then info = info .. " (" .. port .. ")" end
    local body_offset = 4 + n
    if body_offset >= tvb:len() then
        pinfo.cols.info = info .. " (no bytes)"
        return
    end
    local wire = tvb(body_offset)
    root:add(f.wire, wire)
    if kind == 0 then
        info = dissect_v4(wire, pinfo, root, info, direction)
    elseif kind == 1 then
        info = dissect_v3(wire:tvb(), root, info)
    elseif kind == 3 then
        info = dissect_event(wire:tvb(), root, info)
    else
        root:add(f.text, wire, printable(wire))
        info = info .. " " .. printable(wire)
    end
    pinfo.cols.info = info
end

local encaps = wtap_encaps or wtap
DissectorTable.get("wtap_encap"):add(encaps.USER0, lumo)
