!PÃdim x
procedure p()
x = |(|1|)|
end
