!'dim x
procedure p()
|if x then
|x = 1
|end if
|end
