!Ðdim x
procedure p()
|x = 1
|||end
