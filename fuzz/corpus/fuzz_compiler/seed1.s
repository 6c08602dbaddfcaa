dim x, b(10)
const k = 5, s() = "ab\x41"
export procedure p(a, buf())
  memcpy(b(1), buf(0), a)
  return
end
event dfu_boot(version)
  x = 2 + 3 * 4 << 1
  if x = 14 then
    b(0:2) = s(:2)
  else
    x = version
  end if
  while x < 10
    x = x + 1
  end while
  call system_reset(1)
  call p(,b(:))
  call dfu_flash_set_address(300)(x)
end
