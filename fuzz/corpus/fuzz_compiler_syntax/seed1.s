dim x, b(10)
const k = 5, s() = "ab\x41"
event sme_up(l, dl, d)
if x = 1 then
x = b(0:2) + $FF - -1
end if
end
