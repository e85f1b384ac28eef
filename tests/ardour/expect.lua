-- What korvane should report to a host: identity, defaults and read-backs.
--
-- korvane counts samples at a fixed 44100 Hz whatever the host's rate, and
-- converts "st rate", "pos" and "len" against its loop length L, which its
-- engine derives from the host's tempo and "bsize". These functions mirror
-- those documented mappings so that the test can predict every value that
-- Ardour reads back.
local M = {}

M.name = "korvane"
M.maker = "zvk"
M.unique_id = "1198347124" -- the four characters GmSt
M.category = "Effect"
M.inputs = 2
M.outputs = 2
M.parameters = { "bsize", "rec thrsh", "st rate", "st jitter", "pos",
                 "pos jitter", "len", "len jitter", "tp", "p jitter", "env" }

local kRate = 44100
local kMinStep = 42
local kDefaultSixteenths = 16
local kDefaultInterval = 882
local kDefaultLength = 4000

local function trunc(x)
  if x < 0 then return -math.floor(-x) end
  return math.floor(x)
end

-- The value as the host passes it: rounded to single precision.
local function single(x) return (string.unpack("<f", string.pack("<f", x))) end

-- Loop length in korvane's samples for a tempo and a number of sixteenths.
function M.loop_length(tempo, sixteenths)
  return trunc(sixteenths * (60 / (tempo * 4)) * kRate)
end

function M.sixteenths(v) return trunc(single(v) * 63) + 1 end

-- Per index: the normalised value that getParameter answers after
-- setParameter(v), both with loop length L.
local readback = {
  [0] = function(v) return (M.sixteenths(v) - 1) / 63 end,
  [2] = function(v, L)
    local steps = L // 16
    return trunc(steps * single(v)) / steps
  end,
  [4] = function(v, L) return trunc(L * single(v)) / L end,
  [6] = function(v, L) return trunc(L / 4 * single(v)) / (L / 4) end,
  [8] = function(v) return trunc(single(v) * 48) / 48 end,
  [10] = function(v) return (single(single(v) * 5 + 1) - 1) / 5 end,
}

function M.readback(index, v, L)
  local mapping = readback[index]
  if mapping then return mapping(v, L) end
  return single(v)
end

-- Per index: what getParameter answers before anything is set, once the
-- engine has derived the loop length L from the host's tempo.
function M.default(index, L)
  if index == 0 then return (kDefaultSixteenths - 1) / 63 end
  if index == 2 then return (kDefaultInterval - kMinStep) / (L // 16) end
  if index == 6 then return (kDefaultLength - kMinStep) / (L / 4) end
  if index == 8 then return 0.5 end
  return 0.0
end

function M.default_loop(tempo) return M.loop_length(tempo, kDefaultSixteenths) end

return M
