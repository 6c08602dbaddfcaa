! †dim x
procedure p()
x = 1|.1|||
end
