-- wrk script of bench/run-serve.sh: every request looks up a caller number
-- picked at random from a list, one URL-encoded number a line (most of
-- them numbers of the address book, some that nobody has).
--
-- Environment:
--   PELLORY_NUMBERS   the list (required)
--   PELLORY_QUERY     what follows the number in the target (default
--                     "&format=json")

local numbers = {}
for line in io.lines(os.getenv("PELLORY_NUMBERS")) do
  if line ~= "" then numbers[#numbers + 1] = line end
end
assert(#numbers > 0, "PELLORY_NUMBERS holds no number")
local query = os.getenv("PELLORY_QUERY") or "&format=json"

math.randomseed(os.time())

request = function()
  return wrk.format("GET", "/v1/lookup?number=" .. numbers[math.random(#numbers)] .. query)
end

